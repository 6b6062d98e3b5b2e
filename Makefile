.PHONY: test demo bench build clean dist

build:
	bash scripts/build.sh

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
