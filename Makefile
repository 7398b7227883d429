# Every target installs what it needs first (scripts/deps.sh is idempotent).
.PHONY: deps build test asan-test fuzz demo bench install uninstall package clean

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

# Installs under PREFIX (DESTDIR is honoured); uninstall removes what the last install put.
PREFIX ?= /usr/local

install: build
	@cmake --install build --prefix "$(PREFIX)"

uninstall:
	@test -f build/install_manifest.txt || { echo "Nothing was installed from this build"; exit 1; }
	@xargs -d '\n' rm -f -- < build/install_manifest.txt
	@cmake -DPREFIX="$$(sed -n 's|/bin/corvane$$||p' build/install_manifest.txt)" -P cmake/RefreshDesktopCaches.cmake
	@echo "Removed the files listed in build/install_manifest.txt"

# A Debian package of the install, in build/package.
package: build
	@cd build && cpack
	@ls build/package/*.deb

clean:
	rm -rf build build-asan build-fuzz
