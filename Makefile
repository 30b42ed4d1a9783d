# The two everyday commands: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench package format clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/app/krv520-config

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Runs every benchmark and prints one table of figures beside their targets.
bench: build
	./bench/run.sh $(BUILD_DIR)

# The Debian packages, written into $(BUILD_DIR).
package: build
	cmake --build $(BUILD_DIR) --target package

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
