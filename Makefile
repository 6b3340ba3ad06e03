# torvex: build, test, demo, bench.
# PYTHON: python3.14 on PATH, else the toolchain bootstrap beside the project.
# PYTHON_FT: the free-threaded python3.14t, found the same way; `make test` runs the Python suite on both.
PYTHON ?= $(shell command -v python3.14 2>/dev/null || ../shared/toolchain/python3.14 --path)
PYTHON_FT ?= $(shell command -v python3.14t 2>/dev/null || ../shared/toolchain/python3.14t --path)
JOBS ?= $(shell nproc)
BUILD := build
# A module for a free-threaded interpreter is built and staged apart (build/release-ft, build/stage-ft), so the
# two modules never mix, whichever interpreter PYTHON names.
FT_SUFFIX := $(shell "$(PYTHON)" -c 'import sysconfig; print("-ft" if sysconfig.get_config_var("Py_GIL_DISABLED") else "")' 2>/dev/null)
RELEASE := $(BUILD)/release$(FT_SUFFIX)
STAGE := $(BUILD)/stage$(FT_SUFFIX)
# The native tests do not depend on the interpreter: built once, beside the module with the lock.
NATIVE_TESTS := $(if $(FT_SUFFIX),OFF,ON)
CMAKE_COMMON := -G Ninja -DPython_EXECUTABLE=$(PYTHON)
# Each fuzz target's smoke run in `make test`; longer runs: make fuzz FUZZ_SECONDS=600.
FUZZ_SECONDS ?= 30
PYTEST_ARGS ?=

.PHONY: all build pytest pytest-ft native-tests sanitize fuzz test demo install bench clean

all: build

build:
	@test -x "$(PYTHON)" || { echo "no Python 3.14 interpreter found (PYTHON=$(PYTHON))"; exit 1; }
	cmake -S . -B $(RELEASE) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVEX_TESTS=$(NATIVE_TESTS) >/dev/null
	cmake --build $(RELEASE) -j $(JOBS)
	@rm -rf $(STAGE) && mkdir -p $(STAGE)
	@cp -r python/torvex $(STAGE)/torvex
	@cp $(RELEASE)/_torvex*.so $(STAGE)/torvex/
	@echo "staged torvex in $(STAGE)"

# The Python suite against the staged module (build first).
pytest:
	PYTHONPATH=$(CURDIR)/$(STAGE) $(PYTHON) -m pytest -q -p no:cacheprovider tests/python $(PYTEST_ARGS)

# Build and Python suite for the free-threaded interpreter.
pytest-ft:
	@test -x "$(PYTHON_FT)" || { echo "no free-threaded Python 3.14t found (PYTHON_FT=$(PYTHON_FT))"; exit 1; }
	@$(MAKE) --no-print-directory build PYTHON="$(PYTHON_FT)"
	@$(MAKE) --no-print-directory pytest PYTHON="$(PYTHON_FT)"

native-tests: build
	$(RELEASE)/torvex_native_tests --gtest_brief=1

# The native tests again, under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/asan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug \
	    -DTORVEX_MODULE=OFF -DTORVEX_TESTS=ON -DTORVEX_SANITIZE=ON >/dev/null
	cmake --build $(BUILD)/asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=0 UBSAN_OPTIONS=print_stacktrace=1 \
	    $(BUILD)/asan/torvex_native_tests --gtest_brief=1

# Each fuzz target replays its corpus, then runs for a bounded time.
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DTORVEX_MODULE=OFF -DTORVEX_FUZZ=ON -DTORVEX_SANITIZE=ON >/dev/null
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	@set -e; for t in $(BUILD)/fuzz/fuzz_*; do \
	    [ -x "$$t" ] || continue; name=$$(basename $$t); corpus=fuzz/corpus/$${name#fuzz_}; \
	    mkdir -p $(BUILD)/fuzz/work/$$name; \
	    echo "fuzz: $$name for $(FUZZ_SECONDS)s"; \
	    $$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 -print_final_stats=0 \
	        $(BUILD)/fuzz/work/$$name $$( [ -d $$corpus ] && echo $$corpus ) 2>$(BUILD)/fuzz/$$name.log \
	        || { tail -n 60 $(BUILD)/fuzz/$$name.log; exit 1; }; \
	done

# The fuzz targets run one at a time, on one core: the free-threaded build and suite take the other meanwhile.
# Each prints its output when it is done.
test: build
	@$(MAKE) --no-print-directory pytest
	$(RELEASE)/torvex_native_tests --gtest_brief=1
	@$(MAKE) --no-print-directory sanitize
	@$(MAKE) --no-print-directory -j 2 --output-sync=target fuzz pytest-ft JOBS=1

demo: build
	PYTHONPATH=$(CURDIR)/$(STAGE) $(PYTHON) examples/demo.py

install:
	$(PYTHON) -m pip install --no-build-isolation --break-system-packages .

bench: build
	PYTHONPATH=$(CURDIR)/$(STAGE) $(PYTHON) bench/run.py --build $(BUILD)

clean:
	rm -rf $(BUILD)
