# The two commands: `make demo` and `make test`. Both install what is missing
# (Debian packages, as root), build, and then run.

SHELL := /bin/bash
JOBS ?= 2
FUZZ_SECONDS ?= 60

# What the native build, the tests, the sanitizer build and the fuzz target need.
DEB_PACKAGES := cmake make g++ pkg-config clang lld libclang-rt-14-dev \
	libjpeg62-turbo-dev libpng-dev libgif-dev zlib1g-dev \
	libgtest-dev libgmock-dev libbenchmark-dev

.PHONY: all deps build demo test test-unit test-asan test-fuzz fuzz bench clean samples

all: build

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
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

test: deps test-unit test-asan test-fuzz

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
