# Front door to CMake. `make` builds Release into build/ (the host program is build/nimbra).
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all setup build install package test demo test-asan test-tsan bench fuzz clean

all: build

setup:
	@scripts/setup-deps

build/build.ninja:
	@scripts/setup-deps --check || { echo "nimbra: run 'make setup' first (it installs the packages above, as root or through sudo)" >&2; exit 1; }
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: build/build.ninja
	cmake --build build -j $(JOBS)

# PREFIX/bin/nimbra, its launch service stand-in, the manual page and bash completion, below DESTDIR.
install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# The Debian package, build/nimbra_VERSION_ARCH.deb.
package: build
	cd build && cpack -G DEB

test: setup
	$(MAKE) --no-print-directory build
	cd build && ctest $(CTEST_FLAGS)

# The main job: where the space goes below /usr, one level deep, with the progress display.
demo: setup
	$(MAKE) --no-print-directory build
	@build/nimbra tree /usr --depth 1
	@echo "(add --json for the answer as JSON; \`build/nimbra --help\` lists large, dupes, junk, size, sys, mem, startup, apps, leftovers, changes, history)"

build-asan/build.ninja:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_SANITIZE=address -DNIMBRA_BENCH=OFF $(CMAKE_FLAGS)

test-asan: setup build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

build-tsan/build.ninja:
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_SANITIZE=thread -DNIMBRA_BENCH=OFF $(CMAKE_FLAGS)

test-tsan: setup build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest $(CTEST_FLAGS)

bench: setup build
	build/codec_bench
	bench/size.sh
	bench/walk.py --mode warm
	bench/walk.py --mode busy
	bench/walk.py --mode cold
	bench/walk.py --mode deep
	bench/delete.sh
	bench/deep_delete.sh
	bench/finders.sh
	bench/answer_memory.py
	bench/serve_stalled_client.py
	bench/ui_hostile_clients.py
	bench/apps.sh
	bench/history.sh

build-fuzz/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_FUZZ=ON -DNIMBRA_TESTS=OFF -DNIMBRA_BENCH=OFF

fuzz: setup build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS)

clean:
	rm -rf build build-asan build-tsan build-fuzz
