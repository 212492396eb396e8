# The two commands a newcomer needs: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

ifeq ($(shell id -u),0)
export QTWEBENGINE_DISABLE_SANDBOX := 1
endif

.PHONY: all deps build build-asan run test test-fast bench format clean deb test-deb

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The sanitizer pass runs no boot tests, so its package goes without the rescue system.
$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVORNEL_SANITIZE=ON -DVORNEL_RESCUE_SYSTEM=OFF

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	./scripts/run.sh $(BUILD)

# Every test, in the normal build and again under AddressSanitizer + UndefinedBehaviorSanitizer.
test: build build-asan
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure
	QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure -LE 'no-sanitizer|qemu|vm'

# The normal build's tests only, for a quick round while working.
test-fast: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

bench: build
	./scripts/bench.sh $(BUILD)

# The Debian package, in $(BUILD)/packaging/ (see docs/desktop.md).
deb: build
	cd $(BUILD)/packaging && cpack --config CPackConfig.cmake

# Installs the package into a clean Debian 12 tree and starts it there: needs root, the package
# archive and minutes, so it is not part of `make test`.
test-deb: build
	./scripts/test-deb.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
