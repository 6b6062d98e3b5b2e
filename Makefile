.PHONY: test demo bench build clean dist

build:
	bash scripts/setup.sh
	[ -f build/CMakeCache.txt ] || cmake --preset default
	cmake --build --preset default

test:
	bash scripts/test.sh

demo:
	bash scripts/demo.sh

bench:
	bash scripts/bench.sh

clean:
	rm -rf build

dist: build
	bash scripts/dist.sh
