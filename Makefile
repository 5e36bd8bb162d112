# The README's two commands are `make demo` and `make test`; both set up whatever is missing.
SHELL := /bin/bash
PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD := build
ASAN_BUILD := build/asan
FUZZ_BUILD := build/fuzz
FUZZ_SECONDS ?= 120
JOBS ?= $(shell nproc)
export PIP_NO_CACHE_DIR := 1
export PIP_DISABLE_PIP_VERSION_CHECK := 1

.PHONY: all deps build test test-cpp test-asan test-python demo bench fuzz lint format clean

all: build

$(VENV)/.installed: pyproject.toml
	$(PYTHON) -m venv $(VENV)
	$(VPY) -c 'import tomllib; print("\n".join(tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["test"]))' > $(VENV)/test-requirements.txt
	$(VPY) -m pip install -q -r $(VENV)/test-requirements.txt
	touch $@

deps: $(VENV)/.installed
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(VPY)) > /dev/null
	cmake --build $(BUILD) -j $(JOBS)

test-cpp: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE=ON -DZELK_BUILD_PYTHON=OFF > /dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

test-python: build
	PYTHONPATH=$(BUILD)/python $(VPY) -m pytest -q

test: test-cpp test-asan test-python

demo: build
	PYTHONPATH=$(BUILD)/python $(VPY) examples/demo.py examples/workspace

bench: build
	@for bench in bench/bench_*.py; do PYTHONPATH=$(BUILD)/python $(VPY) $$bench || exit 1; done

fuzz:
	scripts/install-deps --fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZELK_FUZZ=ON -DZELK_BUILD_PYTHON=OFF -DZELK_BUILD_TESTS=OFF -DZELK_BUILD_TOOLS=OFF > /dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for target in $(FUZZ_BUILD)/bin/fuzz_*; do \
	  name=$$(basename $$target); mkdir -p $(FUZZ_BUILD)/corpus/$$name; \
	  echo "fuzzing $$name for $(FUZZ_SECONDS)s"; \
	  $$target -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 $(FUZZ_BUILD)/corpus/$$name fuzz/seeds/$$name 2>&1 | tail -n 3 || exit 1; \
	done

SOURCES = $(shell git ls-files -co --exclude-standard '*.cpp' '*.hpp')
lint:
	clang-format --dry-run -Werror $(SOURCES)

format:
	clang-format -i $(SOURCES)

clean:
	rm -rf $(BUILD)
