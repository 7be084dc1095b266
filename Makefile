# Thin wrapper over CMake. The two commands a new checkout needs:
#   make demo   - build the three programs, run the daemon on the example
#                 topology, draw the map
#   make test   - build everything and run every test
# While working on the code:
#   make check TEST=Reconcile    - build, then run the tests whose names match
#   make check LABEL=unit        - ... or those of one label (unit, e2e, slow,
#                                  browser, postgres); make check runs all but the slow
BUILD ?= build
export BUILD
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
# Tests run two per core: many end-to-end tests spend their time waiting on
# the programs they run rather than computing.
TEST_JOBS ?= $(shell echo $$((2 * $(JOBS))))
# Optimised, with line tables for backtraces and profiles (-g1): a quarter
# less compile time than full debug information. For a debugger session with
# every local: make CMAKE_FLAGS=-DCMAKE_BUILD_TYPE=Debug BUILD=build-debug
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"

.PHONY: all deps configure programs test check demo bench fuzz test-sanitize test-windows package clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

# One test, one suite or one label; by default every test but the slow ones.
TEST  ?=
LABEL ?=
check: all
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS) \
	  $(if $(TEST),-R '$(TEST)') $(if $(LABEL),-L '$(LABEL)',$(if $(TEST),,-LE slow))

# The Debian package of the build, in $(BUILD)/tqdaemon_<version>_<arch>.deb.
package: all
	cd $(BUILD) && cpack -G DEB

# The programs the demo and the package run, and the libraries they link.
PROGRAMS = tqdaemon tqstream tqmap
programs: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)

demo: programs
	@scripts/demo

bench: all
	@scripts/bench

fuzz:
	@scripts/deps --dev
	@scripts/fuzz

# ASan + UBSan with leak checks; the programs the end-to-end tests run are
# sanitized too and inherit these options. The benchmarks are left out: they
# run no test.
test-sanitize:
	@scripts/deps --dev
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS='-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DTQ_SANITIZE=ON -DTQ_BENCH=OFF'

# The host pieces, the log writers and the payload codec cross-built for
# Windows with MinGW-w64, their tests run under Wine. A test whose Wine client
# loses its server (one that is just exiting) runs again, up to three times.
test-windows:
	@scripts/deps --windows
	@cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
	cmake --build build-windows -j $(JOBS)
	cd build-windows && ctest --output-on-failure -j $(JOBS) --repeat until-pass:3

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-windows
