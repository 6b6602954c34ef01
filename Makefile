# Single entry point: `make test` on a fresh Debian machine installs, builds and tests.
DEBIAN_PACKAGES := cmake g++ make pkg-config \
	libboost-dev libgtest-dev libgmock-dev libbenchmark-dev \
	libsndfile1-dev libfftw3-dev libmysofa-dev libmysofa1 \
	nlohmann-json3-dev libcli11-dev \
	sox espeak-ng alsa-utils
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build test test-asan bench demo clean

deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "installing:$$missing"; \
		$(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	else echo "all dependencies are installed"; fi

build/CMakeCache.txt:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

build-asan/CMakeCache.txt:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=ON -DVELK_BUILD_BENCH=OFF $(CMAKE_FLAGS)

test-asan: deps build-asan/CMakeCache.txt
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench: build
	./build/bin/velk-bench

# Installs, builds, makes a two-talker recording, localises and separates it; outputs in demo-output/.
demo:
	bash scripts/demo.sh

clean:
	rm -rf build build-asan demo-output
