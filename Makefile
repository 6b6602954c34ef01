# Single entry point: `make test` on a fresh Debian machine installs, builds and tests.
DEBIAN_PACKAGES := cmake g++ make pkg-config \
	libboost-dev libgtest-dev libgmock-dev libbenchmark-dev \
	libsndfile1-dev libfftw3-dev libmysofa-dev libmysofa1 \
	nlohmann-json3-dev libcli11-dev \
	python3-dev pybind11-dev python3-numpy \
	libasound2-dev \
	sox espeak-ng alsa-utils \
	clang libclang-rt-14-dev \
	dpkg-dev binutils
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build test test-asan fuzz bench demo install stage deb install-check clean

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

# The libFuzzer targets (tests/fuzz), built with clang and the sanitizers (only they and what they
# link), each run for FUZZ_SECONDS from its replay corpus. Any crash, hang, leak or sanitizer
# report fails; the input is left in build-fuzz/ (keep it in tests/fuzz/corpus/<target> once
# fixed), and the inputs a fuzzer finds worth keeping in build-fuzz/corpus-<target>.
FUZZ_SECONDS ?= 20
FUZZ_TARGETS := velkio network audio stream

build-fuzz/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_FUZZ=ON -DVELK_SANITIZE=ON \
		-DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=OFF $(CMAKE_FLAGS)

fuzz: deps build-fuzz/CMakeCache.txt
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS:%=%_fuzz)
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p build-fuzz/corpus-$$t; \
		if build-fuzz/bin/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
			-artifact_prefix=build-fuzz/$$t- build-fuzz/corpus-$$t tests/fuzz/corpus/$$t >build-fuzz/$$t.log 2>&1; then \
			echo "fuzz $$t: $$(grep -E 'DONE' build-fuzz/$$t.log | tail -1)"; \
		else tail -40 build-fuzz/$$t.log; echo "fuzz $$t: FAILED (log: build-fuzz/$$t.log)"; exit 1; fi; \
	done

# Installs the build into PREFIX (DESTDIR=... stages it); see "Install" in the README.
PREFIX ?= /usr/local
install: build
	cmake --install build --prefix $(PREFIX)

# The installed programs and libraries as packaged: built in build-install/ without tests or
# benchmarks, for the /usr prefix, and staged in build-install/stage.
INSTALL_BUILD := build-install
build-install/CMakeCache.txt:
	cmake -S . -B $(INSTALL_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
		-DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=OFF $(CMAKE_FLAGS)

stage: deps build-install/CMakeCache.txt
	cmake --build $(INSTALL_BUILD) -j $(JOBS)
	rm -rf $(INSTALL_BUILD)/stage
	DESTDIR=$(CURDIR)/$(INSTALL_BUILD)/stage cmake --install $(INSTALL_BUILD) --strip

# A Debian package of the staged tree: build-install/velk-binaural_<version>_<arch>.deb.
deb: stage
	bash scripts/make-deb.sh $(INSTALL_BUILD) $(INSTALL_BUILD)/stage $(INSTALL_BUILD)

# Checks the staged tree and the package as their users would (scripts/install-check.sh).
install-check: deb
	bash scripts/install-check.sh $(INSTALL_BUILD)/stage $(INSTALL_BUILD)/velk-binaural_*.deb

bench: build
	./build/bin/velk-bench

# Installs, builds, makes a two-talker recording, localises and separates it; outputs in demo-output/.
demo:
	bash scripts/demo.sh

clean:
	rm -rf build build-asan build-fuzz build-install demo-output
