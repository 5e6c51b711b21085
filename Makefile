# Convenience front end: `make test` and `make demo` work on a fresh Debian 12
# machine as root; everything else is plain CMake.

DEB_PACKAGES := cmake g++ make pkg-config libcups2-dev libcupsimage2-dev zlib1g-dev libpng-dev \
	libgtest-dev libpappl-dev libpam0g-dev chromium curl iproute2 cups-ppdc cups cups-client cups-filters cups-ipp-utils ghostscript poppler-utils python3

BUILD      ?= build
TEST_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test demo install uninstall clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOTFORGE_TESTS=OFF >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDOTFORGE_SANITIZE=ON >/dev/null
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@sh tools/demo.sh $(BUILD)

install: build
	cmake --install $(BUILD)

uninstall:
	@if [ -f $(BUILD)/install_manifest.txt ]; then \
	  xargs -r rm -fv < $(BUILD)/install_manifest.txt; \
	  for f in $$(cat $(BUILD)/install_manifest.txt); do rmdir "$$(dirname "$$f")" 2>/dev/null; done; true; \
	else echo "Nothing to uninstall: $(BUILD)/install_manifest.txt not found"; fi

clean:
	rm -rf $(BUILD) $(TEST_BUILD)
