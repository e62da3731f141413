# Entry points: `make test` and `make demo` each do the whole set-up from a bare machine.
BUILD ?= build
BUILD32 ?= build32
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo test32 clean test-asan test-tsan fuzz-smoke windows test-windows lv2 install

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

# The demo needs only the plug-ins, the built-ins and mvhost, not the tests and benchmarks.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target demo_deps
	@tools/run-demo $(BUILD)

# Every module on its own and every example patch as an LV2 bundle, in build/lv2/ (docs/lv2.md).
lv2: configure
	@cmake --build $(BUILD) -j $(JOBS) --target demo_deps mvhost_lv2
	@tools/make-lv2 $(BUILD)

# The tools, plug-ins, built-ins, LV2 bundles, manual pages and bash completion under PREFIX.
PREFIX ?= /usr/local
install: lv2
	@cmake --build $(BUILD) -j $(JOBS)
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The 32-bit programs run natively where the kernel can run them, else under qemu-i386; EMULATE32=1
# takes the emulator path anyway. The configure step finds out which, and the run says it.
EMULATE32 ?= 0
test32:
	@tools/install-deps --i386
	@cmake -S . -B $(BUILD32) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMV_BUILD_32=ON \
	  -DMV_FORCE_EMULATOR=$(if $(filter 1,$(EMULATE32)),ON,OFF) $(CMAKE_FLAGS) >/dev/null
	@cat $(BUILD32)/run-mode.txt
	@cmake --build $(BUILD32) -j $(JOBS)
	@cd $(BUILD32) && ctest --output-on-failure -j $(JOBS)
	@cat $(BUILD32)/run-mode.txt

# The suite, and every plug-in through the validator, under AddressSanitizer and UBSan. A UBSan
# report stops the program so that it fails its test instead of scrolling past.
BUILD_ASAN ?= build-asan
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
test-asan: deps
	@if [ ! -f $(BUILD_ASAN)/build.ninja ]; then \
	  cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMV_SANITIZE=ON $(CMAKE_FLAGS); fi
	@cmake --build $(BUILD_ASAN) -j $(JOBS)
	@cd $(BUILD_ASAN) && $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

# The threaded code under ThreadSanitizer: the level store's stress test, and the validator's GUI
# session on a second thread beside the audio object, for every plug-in and for a test module that
# races on purpose (it must fail). Only these targets are built, everything instrumented.
BUILD_TSAN ?= build-tsan
TSAN_PLUGINS = arpeggiator array_to_floats cantrell_stepper chain_sequencer chorus color_picker \
  host_tempo tallisk tallisk_view volt_to_index
TSAN_FLAGS = -fsanitize=thread -fno-omit-frame-pointer
TSAN_PLAY = play_tests mv_builtins
TSAN_LV2 = mvhost_lv2 lv2_tests
test-tsan: deps
	@if [ ! -f $(BUILD_TSAN)/build.ninja ]; then \
	  cmake -S . -B $(BUILD_TSAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    "-DCMAKE_C_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" \
	    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" \
	    "-DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread" $(CMAKE_FLAGS); fi
	@cmake --build $(BUILD_TSAN) -j $(JOBS) --target tallisk_stress_tsan mvhost $(TSAN_PLUGINS) vt_races \
	  $(TSAN_PLAY) $(TSAN_LV2)
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(BUILD_TSAN)/tests/tallisk_stress_tsan
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(BUILD_TSAN)/bin/mvhost validate \
	  $(foreach p,$(TSAN_PLUGINS),$(BUILD_TSAN)/plugins/$(p).so) \
	  --check gui_threaded --check lifecycle --strictness 10 --seed 20261208 --repeat 3 --no-shim --timeout 300
	@# The live host (when built: GTK 3 and JACK found) plays for a few seconds on a screen and a
	@# dummy JACK server of its own while a pointer draws in the wave view, a control changes and
	@# both keyboards play: GUI thread, process callback and recorder side by side.
	@if [ -x $(BUILD_TSAN)/tests/play_tests ]; then \
	  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/host/play/tests/tsan.supp \
	  $(BUILD_TSAN)/tests/play_tests --gtest_filter='PlayLive.Drag*:PlayLive.Octave*:PlayLive.Note*:PlayLive.OnScreen*'; fi
	@# The LV2 wrapper in the lilv test host: each instance's GUI thread beside the host's run()
	@# calls, several instances and bundles at once, state saved and restored (lv2apply, which is
	@# not instrumented, cannot load the instrumented wrapper: its test is left out here).
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(BUILD_TSAN)/tests/lv2_tests --gtest_filter='Lv2Host.*-Lv2Host.Lv2apply*'
	@# The same check must fail a module whose GUI and audio objects race (ThreadSanitizer ends the
	@# check's child with status 66).
	@TSAN_OPTIONS=halt_on_error=1 $(BUILD_TSAN)/bin/mvhost validate $(BUILD_TSAN)/tests/validate_plugins/vt_races.so \
	  --check gui_threaded --strictness 10 --seed 20261208 --no-shim --timeout 300 >$(BUILD_TSAN)/races.log 2>&1; \
	  status=$$?; if [ $$status -eq 1 ] && grep -q "exited with status 66" $(BUILD_TSAN)/races.log; then \
	    echo "test-tsan: the racing module fails gui_threaded, as it must"; \
	  else cat $(BUILD_TSAN)/races.log; echo "test-tsan: the racing module was not caught (status $$status)"; exit 1; fi

# Every libFuzzer target (the tallisk readers and those in fuzz/) from its seed corpus for
# FUZZ_SECONDS each, built with clang, libFuzzer, ASan and UBSan.
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 20
fuzz-smoke: deps
	@modules/tallisk/fuzz/run_fuzz.sh $(BUILD_FUZZ)/tallisk $(FUZZ_SECONDS)
	@fuzz/run_fuzz.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

# The ten plug-ins as Windows DLLs for Morvane (build-win32/plugins/NAME.dll), cross-built with
# MinGW-w64 against fparser and FFTW cross-built from Debian's sources (kept in MV_WIN_DEPS, outside
# the tree), then their boundary checks. WIN_ARCH=x86_64 makes the 64-bit build (build-win64).
MV_WIN_DEPS ?= /var/cache/mv-win
WIN_ARCH ?= i686
BUILD_WIN = $(if $(filter x86_64,$(WIN_ARCH)),build-win64,build-win32)
windows:
	@tools/install-deps --windows
	@tools/build-win-deps $(WIN_ARCH) $(MV_WIN_DEPS)
	@cmake -S windows -B $(BUILD_WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMV_WIN_DEPS=$(MV_WIN_DEPS) -DMV_LINUX_MVHOST=$(CURDIR)/$(BUILD)/bin/mvhost \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/windows/mingw-$(WIN_ARCH).cmake $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_WIN) -j $(JOBS)
	@cd $(BUILD_WIN) && ctest -R '^dll_boundary_' --output-on-failure

# The Windows build under Wine against the Linux build (the reference for describe and renders):
# the 32-bit build where 32-bit Windows programs run here, else (or with WIN64=1) the 64-bit one
# under wine64.
test-windows: windows configure
	@cmake --build $(BUILD) -j $(JOBS) --target demo_deps
	@MV_FORCE_WIN64=$(if $(filter 1,$(WIN64)),1,0) windows/run_tests.sh build-win32 build-win64

clean:
	rm -rf $(BUILD) $(BUILD32) build-win32 build-win64 out
