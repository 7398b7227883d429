# Every target installs what it needs first (scripts/deps.sh is idempotent).
.PHONY: deps build test asan-test fuzz demo bench clean

# Seconds each fuzz target runs for.
FUZZ_SECONDS ?= 30

deps:
	@./scripts/deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default
	@echo "Built build/corvane"

test: build
	@ctest --preset default

asan-test: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh

demo: build
	@scripts/demo.sh

# Compares backup and restore with tar, pigz and dar (BENCH_MB=60 make bench: a smaller corpus).
bench: build
	@bench/run.sh

clean:
	rm -rf build build-asan build-fuzz
