// The SDK's behaviour at the boundary, driven through the reference host with the probe plug-in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "mvhost/host.h"
#include "probe_report.h"

namespace {

const std::string kProbe = std::string(PROBE_DIR) + "/sdk_probe.so";
const std::string kEmpty = std::string(PROBE_DIR) + "/sdk_probe_empty.so";
const std::string kChecks = std::string(PROBE_DIR) + "/sdk_probe_checks.so";

ProbeReport report(mvh::Instance* inst) {
    ProbeReport r;
    std::memset(&r, 0, sizeof r);
    inst->dispatch(MD_12, 0, 0, &r);
    return r;
}

struct ProbeHost : ::testing::Test {
    mvh::Host host{[] {
        mvh::HostConfig c;
        c.block_size = 1024;
        return c;
    }()};
    mvh::Instance* add(const std::string& name, mvh::InstanceOptions o = {}) {
        std::string err;
        mvh::Instance* i = host.add(kProbe, name, o, &err);
        EXPECT_NE(i, nullptr) << err;
        return i;
    }
};

TEST(SdkExports, RefuseOtherIndicesAndKinds) {
    void* h = dlopen(kProbe.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto props = reinterpret_cast<MVGetModulePropertiesFn>(dlsym(h, "getModuleProperties"));
    auto make = reinterpret_cast<MVMakeModuleFn>(dlsym(h, "makeModule"));
    ASSERT_TRUE(props && make);
    MVModuleProperties p{};
    EXPECT_EQ(props(1, &p), 0);
    EXPECT_EQ(p.name, nullptr);
    EXPECT_EQ(props(0, &p), 1);
    EXPECT_STREQ(p.name, "TEST_Probe");
    EXPECT_EQ(make(0, 3, nullptr, 0), nullptr);
    EXPECT_EQ(make(1, 1, nullptr, 0), nullptr);
    auto* rec = static_cast<MVModStruct*>(make(0, 1, nullptr, 77));
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->magic, 0x12345678u);
    EXPECT_EQ(rec->version, 1);
    EXPECT_EQ(rec->host_handle, 77);
    // A query past the last pin fails and leaves the cleared record alone.
    MVPinProperties pin;
    std::memset(&pin, 0, sizeof pin);
    EXPECT_EQ(rec->dispatcher(rec, MD_PIN_PROPERTIES, 9, 0, &pin, 0), 0);
    const MVPinProperties zero{};
    EXPECT_EQ(std::memcmp(&pin, &zero, sizeof pin), 0);
    // The process-member record is the library's and points into the object.
    auto* pm = reinterpret_cast<MVProcessMemberRecord*>(rec->dispatcher(rec, MD_PROCESS_MEMBER, 0, 0, nullptr, 0));
    ASSERT_NE(pm, nullptr);
    EXPECT_EQ(pm->count, 1);
    EXPECT_EQ(pm->size, static_cast<int>(sizeof(void*)) + 8);
    EXPECT_EQ(pm->zero, 0);
    EXPECT_EQ(rec->dispatcher(rec, 7, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(rec->dispatcher(rec, 99, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(rec->dispatcher(rec, MD_CLOSE, 0, 0, nullptr, 0), 1);
    auto* gui = static_cast<MVGuiStruct*>(make(0, 2, nullptr, 5));
    ASSERT_NE(gui, nullptr);
    EXPECT_EQ(gui->magic, 0x5345504Du);
    EXPECT_EQ(gui->host_handle, 5);
    EXPECT_EQ(gui->dispatcher(gui, GD_CLOSE, 0, 0, nullptr, 0), 1);
    dlclose(h);
}

// A bare host for the boundary tests below: answers the pin count it is told and clock 0.
int g_pin_count = 0;
intptr_t MV_CDECL counting_host(void*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == AM_PIN_COUNT ? g_pin_count : 0;
}

struct Library {
    void* handle;
    MVMakeModuleFn make;
    explicit Library(const std::string& path) : handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)), make(nullptr) {
        if (handle) make = reinterpret_cast<MVMakeModuleFn>(dlsym(handle, "makeModule"));
    }
    ~Library() {
        if (handle) dlclose(handle);
    }
};

void throwing_call(void*) { throw std::runtime_error("deferred call refused"); }

// An exception inside the module ends the request with its failure value; it never unwinds into
// the host, and the object goes on working.
TEST(SdkEntries, NoExceptionCrossesAnEntryPoint) {
    Library lib(kProbe);
    ASSERT_TRUE(lib.make);
    g_pin_count = 9;
    EXPECT_EQ(lib.make(0, 1, &counting_host, kProbeThrow), nullptr);
    EXPECT_EQ(lib.make(0, 2, &counting_host, kProbeThrow), nullptr);
    auto* rec = static_cast<MVModStruct*>(lib.make(0, 1, &counting_host, 0));
    auto* gui = static_cast<MVGuiStruct*>(lib.make(0, 2, &counting_host, 0));
    ASSERT_TRUE(rec && gui);
    rec->dispatcher(rec, MD_OPEN, 0, 0, nullptr, 0);
    MVEvent deferred{0, EV_DEFERRED_CALL, 0, 0, reinterpret_cast<void*>(&throwing_call)};
    const struct {
        const char* entry;
        std::function<intptr_t()> call;
    } calls[] = {
        {"dispatcher", [&] { return rec->dispatcher(rec, MD_12, 0, kProbeThrow, nullptr, 0); }},
        {"event", [&] { return rec->event_function(rec->object, &deferred), intptr_t{0}; }},
        {"process",
         [&] {
             rec->dispatcher(rec, MD_12, 0, kProbeThrow + 1, nullptr, 0);
             return rec->process_function(rec->object, 0, 0), intptr_t{0};
         }},
        {"GUI dispatcher", [&] { return gui->dispatcher(gui, GD_MESSAGE, 0, kProbeThrow, nullptr, 0); }},
    };
    for (const auto& c : calls) {
        intptr_t result = -1;
        EXPECT_NO_THROW(result = c.call()) << c.entry;
        EXPECT_EQ(result, 0) << c.entry;
    }
    ProbeReport r{};
    EXPECT_EQ(rec->dispatcher(rec, MD_12, 0, 0, &r, 0), 0);
    EXPECT_EQ(r.pin_count, 9);  // still answering
    EXPECT_EQ(rec->dispatcher(rec, MD_CLOSE, 0, 0, nullptr, 0), 1);
    EXPECT_EQ(gui->dispatcher(gui, GD_CLOSE, 0, 0, nullptr, 0), 1);
}

// Host pins past the module's descriptions have no meaning: events for them are dropped instead of
// reaching pins that were never set up. A second open builds the pins afresh (the leak of the
// first array shows under the sanitizer build).
TEST(SdkEntries, ExtraHostPinsAndASecondOpenAreSafe) {
    Library lib(kEmpty);
    ASSERT_TRUE(lib.make);
    g_pin_count = 3;
    auto* rec = static_cast<MVModStruct*>(lib.make(0, 1, &counting_host, 0));
    ASSERT_NE(rec, nullptr);
    rec->dispatcher(rec, MD_OPEN, 0, 0, nullptr, 0);
    for (int pin = 0; pin < 3; ++pin) {
        MVEvent e{0, EV_PIN_STATE, PIN_CHANGED_ONCE, 0, reinterpret_cast<void*>(static_cast<intptr_t>(pin))};
        rec->event_function(rec->object, &e);
    }
    ProbeReport r{};
    rec->dispatcher(rec, MD_12, 0, 0, &r, 0);
    EXPECT_EQ(r.pin_count, 0);
    EXPECT_EQ(r.status_count, 0);
    EXPECT_EQ(rec->dispatcher(rec, MD_CLOSE, 0, 0, nullptr, 0), 1);

    Library probe(kProbe);
    ASSERT_TRUE(probe.make);
    rec = static_cast<MVModStruct*>(probe.make(0, 1, &counting_host, 0));
    ASSERT_NE(rec, nullptr);
    for (int count : {9, 12}) {
        g_pin_count = count;
        rec->dispatcher(rec, MD_OPEN, 0, 0, nullptr, 0);
        rec->dispatcher(rec, MD_12, 0, 0, &r, 0);
        EXPECT_EQ(r.pin_count, count);
    }
    EXPECT_EQ(rec->dispatcher(rec, MD_CLOSE, 0, 0, nullptr, 0), 1);
}

TEST_F(ProbeHost, PinCreationSkipsGuiOnlyPinsAndFillsDuplicates) {
    mvh::InstanceOptions o;
    o.extra_duplicates = 2;
    auto* p = add("p", o);
    ASSERT_EQ(p->pins().size(), 11u);
    EXPECT_TRUE(p->pins()[1].gui_only());
    EXPECT_EQ(p->audio_pin_count(), 9);
    host.open();
    ProbeReport r = report(p);
    ASSERT_EQ(r.pin_count, 9);
    const int expected[] = {DT_FSAMPLE, DT_ENUM, DT_MIDI, DT_MIDI, DT_FSAMPLE, DT_INT, DT_FLOAT, DT_FLOAT, DT_FLOAT};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(r.pin_datatype[i], expected[i]) << i;
        EXPECT_EQ(r.pin_index[i], i);
    }
    EXPECT_EQ(r.pin_variable[0], r.module_in);
    EXPECT_EQ(r.pin_variable[1], r.module_mode);
    EXPECT_EQ(r.pin_variable[2], nullptr);  // MIDI has no storage
    for (int i = 6; i < 9; ++i) {
        EXPECT_NE(r.pin_variable[i], nullptr);
        EXPECT_NE(r.pin_variable[i], r.pin_variable[i == 8 ? 7 : i + 1]);
    }
    // The host handed the buffer pointer through the module's own variable.
    EXPECT_EQ(*static_cast<float**>(r.module_in), p->buffer(0));
}

TEST_F(ProbeHost, ModuleWithoutPinsIsAskedForIndexMinusOneOnce) {
    std::string err;
    auto* e = host.add(kEmpty, "e", {}, &err);
    ASSERT_NE(e, nullptr) << err;
    EXPECT_TRUE(e->pins().empty());
    host.open();
    ProbeReport r = report(e);
    EXPECT_EQ(r.pin_count, 0);
    EXPECT_EQ(r.negative_queries, 1);
}

TEST_F(ProbeHost, SameProcessFunctionTwiceAnnouncesOnce) {
    auto* p = add("p");
    host.open();
    EXPECT_EQ(p->process_changes, 1);
    p->set_int(p->find_pin("Mode"), 1);
    host.run_block();
    EXPECT_EQ(p->process_changes, 2);
    p->set_int(p->find_pin("Mode"), 1);
    host.run_block();
    EXPECT_EQ(p->process_changes, 2);
}

TEST_F(ProbeHost, ChangedOnceIsSeenOnlyInsideTheHandler) {
    auto* p = add("p");
    host.open();
    host.run_block();
    const int both = p->find_pin("Both");
    p->set_value(both, mvh::PinValue{9, 9.0f, {}}, -1, PIN_CHANGED_ONCE);
    host.run_block();
    ProbeReport r = report(p);
    ASSERT_GT(r.status_count, 0);
    EXPECT_EQ(r.status_pin[r.status_count - 1], 5);
    EXPECT_EQ(r.status_state[r.status_count - 1], PIN_CHANGED_ONCE);
    EXPECT_EQ(r.pin_status[5], PIN_STATIC);
    EXPECT_EQ(r.both_value, 9);
    p->set_value(both, mvh::PinValue{3, 3.0f, {}}, -1, PIN_STREAMING);
    host.run_block();
    r = report(p);
    EXPECT_EQ(r.pin_status[5], PIN_STREAMING);
}

TEST_F(ProbeHost, InitialStatesReachEveryInputAtTheFirstSample) {
    auto* p = add("p");
    host.open();
    host.run_block();
    ProbeReport r = report(p);
    // In (0), Mode (1) and Both (5); not the MIDI input, not the outputs.
    ASSERT_EQ(r.status_count, 3);
    EXPECT_EQ(r.status_pin[0], 0);
    EXPECT_EQ(r.status_pin[1], 1);
    EXPECT_EQ(r.status_pin[2], 5);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(r.status_clock[k], 0);
        EXPECT_EQ(r.status_state[k], PIN_STATIC);
    }
    EXPECT_EQ(r.both_value, 7);  // its default, written before the announcement
    EXPECT_FLOAT_EQ(r.in_value_at_event, 0.5f);  // "5" volts
}

TEST_F(ProbeHost, BlocksSplitAtEventTimesAndEqualStampsKeepQueueOrder) {
    auto* p = add("p");
    host.open();
    const int mode = p->find_pin("Mode"), both = p->find_pin("Both");
    p->set_int(both, 1, 300);
    p->set_int(mode, 0, 100);
    p->set_int(both, 2, 300);
    host.run_block();
    ProbeReport r = report(p);
    ASSERT_EQ(r.process_count, 3);
    EXPECT_EQ(r.process_offset[0], 0);
    EXPECT_EQ(r.process_length[0], 100);
    EXPECT_EQ(r.process_offset[1], 100);
    EXPECT_EQ(r.process_length[1], 200);
    EXPECT_EQ(r.process_offset[2], 300);
    EXPECT_EQ(r.process_length[2], 724);
    EXPECT_EQ(r.process_clock[2], 300);
    // initial three, then Mode at 100, then Both twice at 300 in queue order
    ASSERT_EQ(r.status_count, 6);
    EXPECT_EQ(r.status_clock[3], 100);
    EXPECT_EQ(r.status_pin[4], 5);
    EXPECT_EQ(r.status_clock[4], 300);
    EXPECT_EQ(r.both_value, 2);
}

TEST_F(ProbeHost, GetValueReadsTheElementOfTheCurrentClock) {
    auto* src = add("src");
    auto* dst = add("dst");
    ASSERT_TRUE(host.connect(src, src->find_pin("Out"), dst, dst->find_pin("In")));
    src->set_int(src->find_pin("Mode"), 1);  // ramp of the clock
    host.open();
    host.run_block();
    dst->set_value(dst->find_pin("In"), mvh::PinValue{}, 1500, PIN_STREAMING);
    host.run_block();
    EXPECT_FLOAT_EQ(report(dst).in_value_at_event, 1500.0f);
}

TEST_F(ProbeHost, MidiSentForALaterBlockArrivesAtItsClock) {
    auto* a = add("a");
    auto* b = add("b");
    ASSERT_TRUE(host.connect(a, a->find_pin("MIDI Out"), b, b->find_pin("MIDI In")));
    host.open();
    host.queue_midi(a, a->find_pin("MIDI In"), 10, 0x7f3c90);
    host.run(3 * 1024);
    ProbeReport ra = report(a), rb = report(b);
    ASSERT_EQ(ra.midi_count, 1);
    EXPECT_EQ(ra.midi_clock[0], 10);
    ASSERT_EQ(rb.midi_count, 1);
    EXPECT_EQ(rb.midi_clock[0], 1510);
    EXPECT_EQ(rb.midi_word[0], 0x7f3c90);
    ASSERT_EQ(a->midi_log.size(), 1u);
    EXPECT_EQ(a->midi_log[0].clock, 1510);
}

TEST_F(ProbeHost, SleepStopsProcessingUntilTheNextEventThenWakes) {
    auto* p = add("p");
    p->set_int(p->find_pin("Mode"), 2);
    host.open();
    host.run(4 * 1024);
    ProbeReport r = report(p);
    EXPECT_EQ(r.process_count, 1);
    EXPECT_TRUE(p->sleeping());
    EXPECT_EQ(r.wake_count, 0);
    p->set_int(p->find_pin("Mode"), 0, 5 * 1024 + 40);
    host.run(2 * 1024);
    r = report(p);
    EXPECT_EQ(r.wake_count, 1);
    ASSERT_EQ(r.process_count, 2);
    EXPECT_EQ(r.process_clock[1], 5 * 1024 + 40);
    EXPECT_EQ(r.process_length[1], 1024 - 40);
    EXPECT_FALSE(p->sleeping());
}

TEST_F(ProbeHost, NullCallbackCreatesNoPinsAndRunsSafely) {
    mvh::InstanceOptions o;
    o.null_callback = true;
    auto* p = add("p", o);
    host.open();
    host.run(2048);
    ProbeReport r = report(p);
    EXPECT_EQ(r.pin_count, 0);
    EXPECT_EQ(p->process_changes, 0);  // the host never heard of it
}

// An event whose stamp is not the current clock, delivered straight to the module.
void run_bad_event(const std::string& path) {
    mvh::Host host;
    std::string err;
    auto* p = host.add(path, "p", {}, &err);
    if (!p) {
        std::fprintf(stderr, "%s\n", err.c_str());
        std::abort();
    }
    host.open();
    host.run_block();
    MVEvent e{};
    e.time_stamp = 12345;
    e.event_type = EV_IGNORED;
    p->audio()->event_function(p->audio()->object, &e);
}

TEST(SdkDebugChecks, EventAtAnotherClockStopsADebugBuildOnly) {
    EXPECT_DEATH(run_bad_event(kChecks), "e->time_stamp == SampleClock\\(\\)");
    run_bad_event(kProbe);  // a release build goes on
}

// Which deliverables carry the checks: in a Debug build these stop, the others go on; every
// other build goes on everywhere.
TEST(SdkDebugChecks, DebugBuildsOfTheCheckedModulesCarryThem) {
#ifdef MV_DEBUG_BUILD
    constexpr bool kDebug = true;
#else
    constexpr bool kDebug = false;
#endif
    const struct {
        const char* plugin;
        bool checked;
    } modules[] = {{"host_tempo", true},      {"arpeggiator", true},       {"chorus", true},
                   {"volt_to_index", true},   {"color_picker", false},     {"cantrell_stepper", false},
                   {"array_to_floats", false}};
    for (const auto& m : modules) {
        const std::string path = std::string(MV_PLUGIN_DIR) + "/" + m.plugin + ".so";
        if (kDebug && m.checked) {
            EXPECT_DEATH(run_bad_event(path), "e->time_stamp == SampleClock\\(\\)") << m.plugin;
        } else {
            run_bad_event(path);
        }
    }
}

}  // namespace

namespace {

TEST_F(ProbeHost, ANewConstantOnAnUnconnectedInputHoldsFromItsSample) {
    auto* p = add("p");
    host.open();
    p->set_float(p->find_pin("In"), 0.3f, 100);
    host.run_block();
    const float* out = p->buffer(p->find_pin("Out"));
    EXPECT_FLOAT_EQ(out[99], 0.5f);
    EXPECT_FLOAT_EQ(out[100], 0.3f);
    host.run_block();
    EXPECT_FLOAT_EQ(out[0], 0.3f);
}

}  // namespace
