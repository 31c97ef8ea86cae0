# Quick start:  make run   (install, build, run ZOR on the demo suite)
#               make test  (install, build, run every test)
GENERATOR := -G Ninja
CTEST     := ctest --output-on-failure --no-tests=error -j2

.PHONY: all deps build test test-release test-asan test-tsan bench fuzz run package clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B build $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build

# Every test three ways: the release build, ASan+UBSan, and TSan for the
# threaded parts.
test: test-release test-asan test-tsan

test-release: build
	cd build && $(CTEST)

test-asan: deps
	cmake -S . -B build-asan $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_SANITIZE=address -DZOR_BUILD_BENCH=OFF
	cmake --build build-asan
	cd build-asan && $(CTEST)

test-tsan: deps
	cmake -S . -B build-tsan $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_SANITIZE=thread -DZOR_BUILD_BENCH=OFF
	cmake --build build-tsan --target tsan_tests
	cd build-tsan && $(CTEST) -L tsan

# Every benchmark program (medians of repetitions against same-run
# baselines) and the start-up measurement, written to docs/benchmarks.md.
bench: build
	scripts/run-benchmarks build/bin

# libFuzzer runs of the intake, the field splitter and the controller's sentence
# readers (clang, ASan+UBSan).
# FUZZ_SECONDS per target; new inputs collect in build-fuzz/corpus/.
FUZZ_SECONDS ?= 300
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_FUZZ=ON -DZOR_BUILD_BENCH=OFF
	cmake --build build-fuzz --target fuzz_targets
	for t in intake split_fields handler_sentences handler_datagram raw_paths \
	         find_handler external_sv remote_type key_fields; do \
	  mkdir -p build-fuzz/corpus/$$t && \
	  build-fuzz/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    build-fuzz/corpus/$$t tests/fuzz/seeds/$$t || exit 1; \
	done

# ZOR on the demo suite, in the foreground (Ctrl-C ends it).
run:
	scripts/run-demo

# The Debian package of the release build: build/zor_<version>_<arch>.deb.
package: build
	cmake --build build --target package

clean:
	rm -rf build build-asan build-tsan build-fuzz
