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
