# Telvane: the commands a user types.
#   make run    build everything and start Telvane on the default device
#   make test   build everything and run every test
#   make asan   the whole test suite under AddressSanitizer + UBSan
#   make fuzz   each fuzz target for FUZZ_SECONDS seconds (default 60)
#   make bench  the benchmarks
#   make tsa    compile everything with clang's lock checks (-Wthread-safety)
# Each installs the Debian packages it needs first (scripts/install-deps).

BUILD       ?= build
ASAN_BUILD  ?= build-asan
FUZZ_BUILD  ?= build-fuzz
BENCH_BUILD ?= build-bench
TSA_BUILD   ?= build-tsa
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps build test asan fuzz bench tsa run format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DTELVANE_SANITIZE=ON -DTELVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVANE_FUZZ=ON \
	  -DTELVANE_TESTS=OFF -DTELVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DTELVANE_TESTS=OFF -DTELVANE_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	scripts/run-benchmarks $(BENCH_BUILD)

# Compile only: a broken lock rule fails the build, nothing runs.
tsa: deps
	CC=clang CXX=clang++ cmake -S . -B $(TSA_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DTELVANE_THREAD_SAFETY=ON \
	  -DTELVANE_TESTS=OFF -DTELVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSA_BUILD) -j $(JOBS)

run: build
	scripts/run-device $(BUILD)

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) $(TSA_BUILD)
