#!/bin/sh
# Builds the Debian packages from the tree: a release build with Debian's
# hardening flags and without the tests, then CPack's DEB generator. The
# packages land in BUILD_DIR/packages/. `make package` and the package test
# both run this, so what the test installs is what users get.
# Usage: packaging/build.sh BUILD_DIR [JOBS]
set -e
build=${1:?usage: build.sh BUILD_DIR [JOBS]}
jobs=${2:-2}
src=$(cd "$(dirname "$0")/.." && pwd)
case "$build" in /*) ;; *) build=$PWD/$build ;; esac

# dpkg-buildflags maps the current directory out of the debug paths, so run
# from the source tree; -g is dropped because the binaries are stripped.
cd "$src"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDOTFORGE_TESTS=OFF -DDOTFORGE_SANITIZE=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_STRIP="$src/packaging/strip.sh" \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$jobs"
rm -f "$build"/packages/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/packages/*.deb
