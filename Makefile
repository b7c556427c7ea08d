# The two commands: `make demo` and `make test`. Both install what is missing
# (Debian packages, as root), build, and then run.

SHELL := /bin/bash
JOBS ?= 2
FUZZ_SECONDS ?= 60

# What the native build, the tests, the sanitizer build and the fuzz target need.
DEB_PACKAGES := cmake make g++ pkg-config clang lld libclang-rt-14-dev \
	libjpeg62-turbo-dev libpng-dev libgif-dev zlib1g-dev \
	libgtest-dev libgmock-dev libbenchmark-dev
# The Windows module: the MinGW-w64 cross compilers, nasm for libjpeg-turbo's
# SIMD code, dpkg-dev to unpack Debian's source packages, and a headless Wine
# (32-bit, and 64-bit for machines that cannot run 32-bit code).
WIN_PACKAGES := g++-mingw-w64-i686 g++-mingw-w64-x86-64 nasm dpkg-dev wine wine32:i386 wine64
# The codec sources come from Debian's source packages (apt-get source).
DEB_SRC_LIST := /etc/apt/sources.list.d/zanpictors-deb-src.sources

.PHONY: all deps build demo test test-unit test-asan test-fuzz test-win32 win32 fuzz bench clean samples

all: build

deps:
	@if ! dpkg --print-foreign-architectures | grep -qx i386 || [ ! -f $(DEB_SRC_LIST) ]; then \
		dpkg --add-architecture i386; \
		printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
			'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' > $(DEB_SRC_LIST); \
		apt-get update -qq; \
	fi
	@missing=$$(for p in $(DEB_PACKAGES) $(WIN_PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		export DEBIAN_FRONTEND=noninteractive; \
		apt-get update -qq && apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS)

demo: build
	@scripts/demo.sh build/linux samples out

test: deps test-unit test-asan test-fuzz test-win32

# The 32-bit Windows module (build/win32/zanPictors.wlx) and its host.
win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

# The Windows module's tests under Wine, against the Linux build's results.
# A machine that cannot run 32-bit code (no 32-bit user mode in its kernel
# or hypervisor) skips the Wine tests of the 32-bit module and runs them on
# the same module built for 64-bit Windows instead.
test-win32: build win32
	ctest --preset win32
	@if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then \
		echo "This machine cannot run 32-bit programs: the Wine tests run on the 64-bit build."; \
		cmake --preset win64 >/dev/null && cmake --build --preset win64 -j $(JOBS) && ctest --preset win64; \
	fi

test-unit: build
	ctest --preset linux

test-asan: deps
	cmake --preset linux-asan >/dev/null
	cmake --build --preset linux-asan -j $(JOBS)
	ctest --preset linux-asan

# A short fuzz run over the seed corpus: every seed, then random mutations.
test-fuzz: deps
	cmake --preset linux-fuzz >/dev/null
	cmake --build --preset linux-fuzz -j $(JOBS) --target fuzz_pipeline
	@mkdir -p build/fuzz/work
	build/fuzz/fuzz/fuzz_pipeline -max_total_time=30 -rss_limit_mb=2048 -timeout=10 \
		-print_final_stats=1 build/fuzz/work fuzz/corpus

# A longer fuzz run (FUZZ_SECONDS), for before a release.
fuzz: deps
	cmake --preset linux-fuzz >/dev/null
	cmake --build --preset linux-fuzz -j $(JOBS) --target fuzz_pipeline
	@mkdir -p build/fuzz/work
	build/fuzz/fuzz/fuzz_pipeline -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=10 \
		-print_final_stats=1 build/fuzz/work fuzz/corpus

bench: build
	build/linux/bench/zan_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true

# Regenerates the sample files (they are committed; this is how they were made).
samples: build
	build/linux/zan_make_samples samples

clean:
	rm -rf build out
