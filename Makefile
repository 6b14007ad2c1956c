# Two-word entry points: `make demo` builds Tarvix and compares two bundled
# interfaces; `make test` builds and runs every test, in a release build and
# under AddressSanitizer and UndefinedBehaviorSanitizer; `make fuzz` runs the
# fuzz harnesses (clang and libFuzzer) for FUZZ_SECONDS each.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
SAN_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all demo test test-release test-sanitize fuzz bench clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# The demo needs the program only.
demo:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target Tarvix
	cd examples && ../$(BUILD)/Tarvix 1A2K_AB.pdb 1AZS_AB.pdb 1A2K_AB.contacts 1AZS_AB.contacts

test: test-release test-sanitize

test-release: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIX_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The readers and the command line under libFuzzer, ASan and UBSan; fails on
# any finding (tests/fuzz/run.sh; FUZZ_HARNESSES picks some of pdb, contacts,
# cmdline).
fuzz:
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIX_FUZZ=ON -DTARVIX_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_pdb fuzz_contacts fuzz_cmdline
	tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_HARNESSES)

# Sizes of the scaling table (self-comparisons of interfaces built from whole
# complexes); add 5000 for the largest (several minutes).
SIZES ?= 50 100 200 300 600 1200 2250

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARVIX_BENCH=ON -DTARVIX_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target all make_interface time_compare
	build-bench/bench_dp
	build-bench/bench_scoring
	build-bench/bench_search
	bench/whole_run.sh build-bench/Tarvix 5
	bench/search_threads.sh build-bench/Tarvix 3
	bench/scaling.py build-bench/Tarvix build-bench/make_interface $(SIZES)
	/usr/bin/python3 bench/python_overhead.py build-bench

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) build-bench
