# The few commands a person types; everything else lives in CMakePresets.json.
.PHONY: all packages demo-packages configure build test demo clean format

all: build

# The Debian packages the build and the tests need; a quick no-op when all
# are present. The demo asks only for what it builds with.
packages:
	scripts/install-packages.sh

demo-packages:
	scripts/install-packages.sh demo

# A checkout copied or moved keeps build trees whose CMakeCache.txt names the
# old folder, which CMake refuses ("CMakeCache.txt directory ... is
# different"); such a tree is configured afresh, and a tree that is ours is
# configured as usual. $(call fresh,PRESET)
fresh = $(if $(wildcard build/$(1)/CMakeCache.txt),$(shell [ "$$(sed -n \
	's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' build/$(1)/CMakeCache.txt)" -ef build/$(1) ] || echo --fresh))

configure: packages
	cmake --preset default $(call fresh,default)

build: configure
	cmake --build --preset default

test: build
	ctest --preset default

# Five seconds from the simulated base station into BDF+ and CSV, then the
# per-channel summary. Only what the recording runs is built, so a first demo
# does not wait for every test binary, nor for debug information; a tree that
# is configured already keeps its configuration, so a demo after make test
# rebuilds nothing, and make test after a first demo rebuilds once, with it.
demo_configure = $(if $(wildcard build/default/CMakeCache.txt),\
	$(if $(call fresh,default),cmake --preset demo --fresh),cmake --preset demo)
demo: demo-packages
	$(demo_configure)
	cmake --build --preset demo
	build/default/bin/bvhost record build/default/bin/libkessra_plugin.so \
		--seconds 5 --out build/demo.bdf --out build/demo.csv

# The Debian packages kessra, kessra-simulator and python3-kessra, from the
# optimised build, in build/release/package/.
.PHONY: package
package: packages
	cmake --preset release $(call fresh,release)
	cmake --build --preset release --target bvhost kessra_plugin OrvaneAPI_Interop kessra_python
	cd build/release && cpack --config CPackConfig.cmake
	@ls build/release/package/*.deb

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

# The suite under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (replaying the fuzz seeds too), then the tests in which a
# second thread runs under ThreadSanitizer.
.PHONY: check fuzz bench mutation
check: packages
	cmake --preset asan $(call fresh,asan)
	cmake --build --preset asan
	ctest --preset asan
	cmake --preset tsan $(call fresh,tsan)
	cmake --build --preset tsan
	ctest --preset tsan

# Fuzzes for FUZZ_SECONDS from the committed seeds; new inputs collect in
# build/fuzz/corpus and any crash lands in build/fuzz/.
FUZZ_SECONDS ?= 600
# The file readers of bvhost repair are small; a minute covers them well.
FUZZ_EDF_SECONDS ?= 60
fuzz: packages
	cmake --preset fuzz $(call fresh,fuzz)
	cmake --build --preset fuzz
	mkdir -p build/fuzz/corpus
	build/fuzz/bin/kessra_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		-dict=fuzz/kessra.dict -artifact_prefix=build/fuzz/ build/fuzz/corpus fuzz/corpus
	mkdir -p build/fuzz/corpus_edf
	build/fuzz/bin/bvhost_fuzz_edf -max_total_time=$(FUZZ_EDF_SECONDS) -print_final_stats=1 \
		-artifact_prefix=build/fuzz/edf- build/fuzz/corpus_edf fuzz/corpus_edf

# Optimised build, then every benchmark.
bench: packages
	cmake --preset bench $(call fresh,bench)
	cmake --build --preset bench
	build/bench/bin/kessra_bench

# Plants each fault of scripts/mutations.py in a copy of the plug-in, one at
# a time, and counts those bvhost validate catches; a few minutes.
mutation: configure
	cmake --build --preset default --target bvhost bvhost_interop_standin
	scripts/mutation-test.py
