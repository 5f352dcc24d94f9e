# Everyday entry points. Each installs what is missing, then builds.
BUILD      ?= build
FUZZ_BUILD ?= build-fuzz
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 5
export TQ_BUILD_DIR := $(abspath $(BUILD))

.PHONY: all deps configure build test unit fuzz asan tsan run console screenshots bench soak clean

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

# The whole suite under AddressSanitizer with UBSan, and under ThreadSanitizer,
# each in a build folder of its own.
asan: deps
	@JOBS=$(JOBS) scripts/run-sanitized.sh address $(ASAN_BUILD)

tsan: deps
	@JOBS=$(JOBS) scripts/run-sanitized.sh thread $(TSAN_BUILD)

run: build
	@scripts/run-server.sh $(BUILD)

console: build
	@scripts/run-console.sh $(BUILD)

# The pictures the documents show are copies of these, so that they are
# retaken whenever the console is photographed.
DOC_PICTURES := main-report.png activity.png details-edit.png

screenshots: build
	@scripts/with-xvfb.sh $(BUILD)/bin/wlscreenshots $(BUILD)/screenshots
	@cp $(addprefix $(BUILD)/screenshots/,$(DOC_PICTURES)) docs/pictures/
	@echo "screenshots: $(BUILD)/screenshots/; copied to docs/pictures/: $(DOC_PICTURES)"

bench: build
	@scripts/run-bench.sh $(BUILD)

soak: build
	@scripts/run-soak.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
