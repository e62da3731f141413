# Entry points: `make test` and `make demo` each do the whole set-up from a bare machine.
BUILD ?= build
BUILD32 ?= build32
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo test32 clean

all: build

deps:
	@tools/install-deps

configure: deps
	@if [ ! -f $(BUILD)/build.ninja ]; then \
	  cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS); fi

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@tools/run-demo $(BUILD)

test32:
	@tools/install-deps --i386
	@if [ ! -f $(BUILD32)/build.ninja ]; then \
	  cmake -S . -B $(BUILD32) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMV_BUILD_32=ON $(CMAKE_FLAGS); fi
	@cmake --build $(BUILD32) -j $(JOBS)
	@cd $(BUILD32) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD32) out
