.PHONY: test demo bench build clean dist screenshots

build:
	bash scripts/build.sh

test:
	bash scripts/test.sh

demo:
	bash scripts/demo.sh

bench:
	PREVIOUS="$(PREVIOUS)" bash scripts/bench.sh

screenshots:
	bash scripts/screenshots.sh

clean:
	rm -rf build

dist: build
	PAIR="$(PAIR)" bash scripts/dist.sh
