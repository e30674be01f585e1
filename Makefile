# The few commands a person types; everything else lives in CMakePresets.json.
.PHONY: all build test clean format

all: build

build:
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build
