# Quick start:  make run   (install, build, run ZOR on the demo suite)
#               make test  (install, build, run every test)
GENERATOR := -G Ninja
CTEST     := ctest --output-on-failure --no-tests=error -j2

.PHONY: all deps build test test-release test-asan test-tsan bench fuzz run clean

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

bench: build
	scripts/run-benchmarks build/bin

clean:
	rm -rf build build-asan build-tsan build-fuzz
