# Thin wrapper over CMake: `make demo` runs qs against the simulators,
# `make test` builds both targets and runs every test.
BUILD    ?= build
WINBUILD ?= build-win
FUZZBUILD ?= build-fuzz
ASANBUILD ?= build-asan
FUZZ_SECONDS ?= 20
JOBS     ?= 2
CMAKE_BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build build-native build-win test test-native test-win test-asan fuzz bench soak demo demo-stand install dist clean

all: build

deps:
	@bash scripts/install-deps.sh

build-native: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

build-win: deps
	@cmake -S . -B $(WINBUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) >/dev/null
	@cmake --build $(WINBUILD) -j$(JOBS)

build: build-native build-win

test: build
	@bash scripts/run-fuzz.sh $(FUZZBUILD) $(FUZZ_SECONDS)
	@bash scripts/run-asan.sh $(ASANBUILD)
	@bash scripts/run-tests.sh $(BUILD) $(WINBUILD)

test-asan: deps
	@bash scripts/run-asan.sh $(ASANBUILD)

fuzz: deps
	@bash scripts/run-fuzz.sh $(FUZZBUILD) $(FUZZ_SECONDS)

test-native: build-native
	@bash scripts/run-tests.sh $(BUILD) ""

test-win: build-win
	@bash scripts/run-tests.sh "" $(WINBUILD)

# The stand under seeded operator actions for minutes (SOAK_SECONDS; SEED
# repeats a run whose seed a failure printed).
SOAK_SECONDS ?= 600
soak: build-native
	@python3 tests/stress/stand_stress.py $(BUILD)/qs $(BUILD)/qs-devsim $(BUILD)/qs-zusim --seconds $(SOAK_SECONDS) $(if $(SEED),--seed $(SEED))

# The performance table: ratios against the protocol's own limits.
bench: build-native
	@$(BUILD)/bench/qs-bench $(BUILD)/qs

demo: build-native
	@bash scripts/demo.sh $(BUILD)

# A stand of a master and two benches on the simulators, in tmux.
demo-stand: build-native
	@bash scripts/demo-stand.sh $(BUILD)

# Release packages: optimised, stripped builds of their own (no tests).
dist: deps
	@cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQS_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-release -j$(JOBS) --target qs qs-devsim qs-zusim
	@cmake -S . -B build-win-release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DQS_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-win-release -j$(JOBS) --target qs qs-devsim qs-zusim
	@bash scripts/dist.sh build-release build-win-release

# qs, qs-devsim and qs-zusim into PREFIX/bin (PREFIX=/usr/local unless given).
install: build-native
	@cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf $(BUILD) $(WINBUILD) $(FUZZBUILD) $(ASANBUILD) build-release build-win-release
