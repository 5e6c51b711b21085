# Convenience front end: `make test` and `make demo` work on a fresh Debian 12
# or 13 machine as root; everything else is plain CMake.

# "a|b": the first of these that apt offers (Debian releases name some
# packages differently); nothing is installed when one of them already is.
# lintian: the package test checks the packages as `make package` does.
DEB_PACKAGES := cmake g++ make pkg-config libcups2-dev libcupsimage2-dev zlib1g-dev libpng-dev \
	libjpeg62-turbo-dev|libjpeg-dev libpoppler-cpp-dev \
	libgtest-dev libpappl-dev libavahi-client-dev libpam0g-dev cups-ppdc cups cups-client cups-filters cups-ipp-utils ghostscript \
	poppler-utils python3 dpkg-dev file chromium curl iproute2 clang libclang-rt-dev|libclang-rt-14-dev \
	libsystemd-dev dbus-daemon python3-dbus python3-gi lintian \
	netpbm time zbar-tools qrencode barcode python3-numpy python3-pil
# The last line: for bench_smoke (`make bench` in its quick mode): a peer, peak
# memory, the quality corpus's code makers and decoder, Debian's numpy and PIL.

# `make bench` also: ImageMagick (a peer), DataMatrix codes and OCR for the
# full quality corpus (the smoke test leaves these parts out).
BENCH_PACKAGES := imagemagick dmtx-utils tesseract-ocr tesseract-ocr-eng

BUILD      ?= build
BENCH_BUILD ?= build-bench
TEST_BUILD ?= build-asan
PKG_BUILD  ?= build-pkg
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# The end-to-end tests spend half their time waiting on servers and
# printers: one more test than cores keeps the cores busy.
TEST_JOBS  ?= $(shell echo $$(( $(JOBS) + 1 )))

# $(call install-missing,PACKAGES): apt-get installs those of PACKAGES not
# installed yet; of "a|b" the first with an installation candidate.
define install-missing
	@missing=""; for alts in $$(echo '$(1)'); do \
	  ok=""; for p in $$(echo "$$alts" | tr '|' ' '); do \
	    dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q "install ok installed" && ok=1; \
	  done; \
	  [ -n "$$ok" ] || missing="$$missing $$alts"; \
	done; \
	if [ -n "$$missing" ]; then \
	  apt-get update -qq; pkgs=""; \
	  for alts in $$missing; do \
	    pick=""; for p in $$(echo "$$alts" | tr '|' ' '); do \
	      apt-cache policy "$$p" 2>/dev/null | grep -q 'Candidate: [^(]' && { pick=$$p; break; }; \
	    done; \
	    pkgs="$$pkgs $${pick:-$${alts%%|*}}"; \
	  done; \
	  echo "Installing:$$pkgs"; \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$pkgs; \
	fi
endef

.PHONY: all deps build test fuzz fuzz-build demo bench package install uninstall clean

all: build

deps:
	$(call install-missing,$(DEB_PACKAGES))

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOTFORGE_TESTS=OFF >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The fuzz targets are built too (clang): a test replays their seeds under
# clang's sanitizers, which catch what gcc's let through. -O1 with line
# tables only: enough for libFuzzer and its stack traces, and cheaper to
# compile than -O2 -g. The test build keeps line tables only (-g1): what the
# sanitizers' reports need, without the full debug info every link copies.
test: deps fuzz-build
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDOTFORGE_SANITIZE=ON \
	  -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
	  -DDOTFORGE_FUZZ_SEEDS_BUILD=$(abspath $(FUZZ_BUILD)) >/dev/null
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
	  -DDOTFORGE_FUZZ=ON -DDOTFORGE_TESTS=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

# Every libFuzzer target for FUZZ_SECONDS each (FUZZ_TARGETS="hfm settings"
# picks some); prints executions and coverage per target.
fuzz: fuzz-build
	sh tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

demo: build
	@sh tools/demo.sh $(BUILD)

# Release build of its own (-O2, no sanitizers), then bench/bench.py; writes bench/RESULTS.md.
bench: deps
	$(call install-missing,$(BENCH_PACKAGES))
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DDOTFORGE_TESTS=OFF >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target dotforge ppds dotforge-preview
	python3 bench/bench.py $(BENCH_BUILD) $(BENCH_ARGS)

# Debian packages for this machine's architecture in $(PKG_BUILD)/packages/,
# then lintian over them (it fails on errors; warnings are shown).
package: deps
	sh packaging/build.sh $(PKG_BUILD) $(JOBS)
	lintian --fail-on error $(PKG_BUILD)/packages/*.deb

install: build
	cmake --install $(BUILD)

uninstall:
	@if [ -f $(BUILD)/install_manifest.txt ]; then \
	  xargs -r rm -fv < $(BUILD)/install_manifest.txt; \
	  for f in $$(cat $(BUILD)/install_manifest.txt); do rmdir "$$(dirname "$$f")" 2>/dev/null; done; true; \
	else echo "Nothing to uninstall: $(BUILD)/install_manifest.txt not found"; fi

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(PKG_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
