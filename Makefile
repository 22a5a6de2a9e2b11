# Korvex build entry points. Every target installs missing Debian packages first.
JOBS ?= 2
CMAKE ?= cmake

.PHONY: build test demo fuzz bench deps clean

deps:
	@scripts/install-deps.sh

build: deps
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=Release -DKORVEX_TESTS=OFF
	$(CMAKE) --build build -j$(JOBS)

# The tests run in a separate Debug tree under AddressSanitizer and UBSan.
test: deps
	$(CMAKE) -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DKORVEX_SANITIZE=ON -DKORVEX_TESTS=ON
	$(CMAKE) --build build-test -j$(JOBS)
	cd build-test && ctest --output-on-failure

demo: build
	@scripts/demo.sh build/korvex

FUZZ_SECONDS ?= 600
fuzz:
	@scripts/install-deps.sh --fuzz
	CC=clang CXX=clang++ $(CMAKE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_FUZZ=ON -DKORVEX_TESTS=OFF
	$(CMAKE) --build build-fuzz -j$(JOBS)
	@scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

bench:
	@scripts/install-deps.sh --bench
	$(CMAKE) -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVEX_BENCH=ON -DKORVEX_TESTS=OFF
	$(CMAKE) --build build-bench -j$(JOBS)
	@scripts/bench.sh build-bench

clean:
	rm -rf build build-test build-fuzz build-bench
