# Thin wrapper over CMake. The two commands a new checkout needs:
#   make demo   - build, run the daemon on the example topology, draw the map
#   make test   - build and run every test
BUILD ?= build
export BUILD
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure test demo bench fuzz test-sanitize test-windows package clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The Debian package of the build, in $(BUILD)/tqdaemon_<version>_<arch>.deb.
package: all
	cd $(BUILD) && cpack -G DEB

demo: all
	@scripts/demo

bench: all
	@scripts/bench

fuzz:
	@scripts/deps --dev
	@scripts/fuzz

# ASan + UBSan with leak checks; the programs the end-to-end tests run are
# sanitized too and inherit these options.
test-sanitize:
	@scripts/deps --dev
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DTQ_SANITIZE=ON"

# The host pieces, the log writers and the payload codec cross-built for
# Windows with MinGW-w64, their tests run under Wine. A test whose Wine client
# loses its server (one that is just exiting) runs again, up to three times.
test-windows:
	@scripts/deps --windows
	@cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build-windows -j $(JOBS)
	cd build-windows && ctest --output-on-failure -j $(JOBS) --repeat until-pass:3

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-windows
