# Front door to CMake. `make` builds Release into build/ (the host program is build/nimbra).
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)

.PHONY: all setup build test demo test-asan test-tsan bench fuzz clean

all: build

setup:
	@scripts/setup-deps

build/build.ninja:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: build/build.ninja
	cmake --build build -j $(JOBS)

test: setup
	$(MAKE) --no-print-directory build
	cd build && ctest $(CTEST_FLAGS)

# The main job: the disk usage tree of /usr, with the terminal progress display.
demo: setup
	$(MAKE) --no-print-directory build
	build/nimbra call analyzeDisk '{"path":"/usr","depth":2}'

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
	bench/delete.sh
	bench/finders.sh
	bench/apps.sh

build-fuzz/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_FUZZ=ON -DNIMBRA_TESTS=OFF -DNIMBRA_BENCH=OFF

fuzz: setup build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS)

clean:
	rm -rf build build-asan build-tsan build-fuzz
