# The few commands a person types; everything else lives in CMakePresets.json.
.PHONY: all build test demo clean format

all: build

build:
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

# Five seconds from the simulated base station into BDF+ and CSV, then the
# per-channel summary.
demo: build
	build/default/bin/bvhost record build/default/bin/libkessra_plugin.so \
		--seconds 5 --out build/demo.bdf --out build/demo.csv

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

# The suite under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (replaying the fuzz seeds too), then the tests in which a
# second thread runs under ThreadSanitizer.
.PHONY: check fuzz bench
check:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# Fuzzes for FUZZ_SECONDS from the committed seeds; new inputs collect in
# build/fuzz/corpus and any crash lands in build/fuzz/.
FUZZ_SECONDS ?= 600
fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz
	mkdir -p build/fuzz/corpus
	build/fuzz/bin/kessra_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		-dict=fuzz/kessra.dict -artifact_prefix=build/fuzz/ build/fuzz/corpus fuzz/corpus

# Optimised build, then every benchmark.
bench:
	cmake --preset bench
	cmake --build --preset bench
	build/bench/bin/kessra_bench
