# The two commands of the README:
#   make run   installs what is missing, builds a Release build and starts Brisko
#   make test  installs what is missing, builds and runs the whole test suite
#   make package  builds the Release build and its Debian package (brisko_VERSION_ARCH.deb)
BUILD_RELEASE ?= build/release
BUILD_TEST    ?= build/test
JOBS          ?= $(shell nproc)

.PHONY: run test deps release test-build bench package clean

deps:
	./scripts/install-deps

release: deps
	cmake -S . -B $(BUILD_RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISKO_BUILD_TESTS=OFF -DBRISKO_BUILD_BENCH=ON
	cmake --build $(BUILD_RELEASE) -j $(JOBS)

run: release
	$(BUILD_RELEASE)/bin/brisko $(ARGS)

test-build: deps
	@if command -v npm >/dev/null 2>&1 && [ ! -d tests/e2e/node_modules ]; then cd tests/e2e && npm ci --no-audit --no-fund --loglevel=error; fi
	cmake -S . -B $(BUILD_TEST) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISKO_BUILD_BENCH=OFF
	cmake --build $(BUILD_TEST) -j $(JOBS)

test: test-build
	./scripts/run-tests $(BUILD_TEST)

package: release
	cd $(BUILD_RELEASE) && cpack -G DEB
	@ls $(BUILD_RELEASE)/brisko_*.deb

bench: release
	./scripts/run-bench $(BUILD_RELEASE)

clean:
	rm -rf build
