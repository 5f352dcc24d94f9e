# Everyday entry points. Each installs what is missing, then builds.
BUILD      ?= build
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 5
export TQ_BUILD_DIR := $(abspath $(BUILD))

.PHONY: all deps configure build test unit fuzz run console screenshots bench soak tsan clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

unit: build
	@JOBS=$(JOBS) scripts/run-unit.sh $(BUILD)

test: unit fuzz

fuzz: deps
	@scripts/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

run: build
	@scripts/run-server.sh $(BUILD)

console: build
	@scripts/run-console.sh $(BUILD)

screenshots: build
	@scripts/with-xvfb.sh $(BUILD)/bin/wlscreenshots $(BUILD)/screenshots

bench: build
	@scripts/run-bench.sh $(BUILD)

soak: build
	@scripts/run-soak.sh $(BUILD)

tsan: deps
	@scripts/run-tsan.sh

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
