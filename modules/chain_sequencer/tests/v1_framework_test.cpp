// The older entry's framework driven through its record as a host would: dispatcher opcodes,
// pin table, queue order, splitting a block at events, resume and sleep.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "sequencer.h"
#include "v1_module.h"

namespace {

constexpr int kIndexPin = 0;
constexpr int kRangePin = 17;
constexpr int kOutputPin = 18;
constexpr int kPins = 19;

struct HostCall {
    int opcode;
    int index;
    intptr_t value;
    intptr_t ptr;
};

// A scripted host: answers the clock and pin count, logs every call.
struct FakeHost {
    int clock = 0;
    int pin_count = kPins;
    std::vector<HostCall> calls;

    std::vector<HostCall> of(int opcode) const {
        std::vector<HostCall> out;
        for (const auto& c : calls)
            if (c.opcode == opcode) out.push_back(c);
        return out;
    }
};
FakeHost* g_host = nullptr;

intptr_t MV_CDECL fake_callback(void*, int32_t opcode, int32_t index, intptr_t value, void* ptr, float) {
    g_host->calls.push_back({opcode, index, value, reinterpret_cast<intptr_t>(ptr)});
    switch (opcode) {
    case v1::kHostSampleClock: return g_host->clock;
    case v1::kHostPinCount: return g_host->pin_count;
    default: return 0;
    }
}

// Deferred calls (event type 3) log their order here.
std::vector<int> g_deferred;
template <int N>
void deferred(v1::V1Module*) {
    g_deferred.push_back(N);
}

class V1Framework : public ::testing::Test {
protected:
    void SetUp() override {
        g_host = &m_host;
        g_deferred.clear();
        m_rec = chain::create_sequencer(&fake_callback);
        ASSERT_NE(m_rec, nullptr);
        m_index.assign(kBlock, 0.0f);
        m_out.assign(kBlock, -1.0f);
        for (auto& s : m_steps) s.assign(kBlock, 0.0f);
    }
    void TearDown() override {
        if (m_rec) {
            EXPECT_EQ(dispatch(v1::kClose), 1);
        }
        g_host = nullptr;
    }

    intptr_t dispatch(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return m_rec->dispatcher(m_rec, opcode, index, value, ptr, opt);
    }
    // Opens with buffers attached, as the host does: it fills the variables the pins point at.
    void open() {
        MVPinProperties p;
        for (int i = 0; i < kPins; ++i) {
            std::memset(&p, 0, sizeof p);
            ASSERT_EQ(dispatch(v1::kPinDescription, i, 0, &p), 1);
            if (p.datatype != DT_FSAMPLE) continue;
            float* b = i == kIndexPin ? m_index.data() : i == kOutputPin ? m_out.data() : m_steps[i - 1].data();
            *static_cast<float**>(p.variable) = b;
        }
        dispatch(v1::kSetBlockSize, 0, kBlock);
        dispatch(v1::kOpen);
    }
    void queue(int stamp, int type, int p1, int p2, intptr_t ptr) {
        MVEvent e{stamp, type, p1, p2, reinterpret_cast<void*>(ptr)};
        dispatch(v1::kQueueEvent, 0, 0, &e);
    }
    void queue_state(int stamp, int pin, int state, int value = 0) { queue(stamp, v1::kEventPinState, state, value, pin); }
    template <int N>
    void queue_deferred(int stamp) {
        queue(stamp, v1::kEventDeferredCall, 0, 0, reinterpret_cast<intptr_t>(&deferred<N>));
    }
    void process(int offset, int n) {
        m_rec->process(m_rec, offset, n);
        m_host.clock += n;
    }

    static constexpr int kBlock = 32;
    FakeHost m_host;
    MVModStructV1* m_rec = nullptr;
    std::vector<float> m_index, m_out;
    std::vector<float> m_steps[16];
};

TEST_F(V1Framework, RecordCarriesTheOlderEntryLayout) {
    EXPECT_EQ(m_rec->magic, 0x10000068u);
    EXPECT_EQ(m_rec->version, 1);
    EXPECT_NE(m_rec->object, nullptr);
    EXPECT_NE(m_rec->dispatcher, nullptr);
    EXPECT_NE(m_rec->process, nullptr);
    EXPECT_EQ(m_rec->reserved2, 0);
    for (char c : m_rec->reserved1) EXPECT_EQ(c, 0);
    for (char c : m_rec->reserved3) EXPECT_EQ(c, 0);
    EXPECT_TRUE(m_host.calls.empty());  // construction says nothing to the host
}

TEST_F(V1Framework, DescribesModuleAndPins) {
    v1::ModuleDescription d{};
    EXPECT_EQ(dispatch(v1::kModuleDescription, 0, 0, &d), 1);
    EXPECT_STREQ(d.name, "Sequencer");
    EXPECT_STREQ(d.id, "Morvane Chainable Sequencer");
    ASSERT_NE(d.about, nullptr);
    EXPECT_EQ(dispatch(v1::kModuleDescription), 0);  // no record to fill

    MVPinProperties p;
    std::memset(&p, 0, sizeof p);
    ASSERT_EQ(dispatch(v1::kPinDescription, kIndexPin, 0, &p), 1);
    EXPECT_STREQ(p.name, "Index");
    EXPECT_EQ(p.direction, DR_IN);
    EXPECT_EQ(p.datatype, DT_FSAMPLE);
    EXPECT_STREQ(p.default_value, "0");
    for (int i = 1; i <= 16; ++i) {
        ASSERT_EQ(dispatch(v1::kPinDescription, i, 0, &p), 1);
        EXPECT_EQ(std::string(p.name), "Step " + std::to_string(i));
        EXPECT_EQ(p.datatype, DT_FSAMPLE);
        EXPECT_STREQ(p.default_value, "0");
    }
    ASSERT_EQ(dispatch(v1::kPinDescription, kRangePin, 0, &p), 1);
    EXPECT_STREQ(p.name, "Range");
    EXPECT_EQ(p.direction, 3);
    EXPECT_EQ(p.datatype, DT_ENUM);
    EXPECT_EQ(p.default_value, nullptr);
    EXPECT_STREQ(p.datatype_extra,
                 "1 - 16,17 - 32 = 16,32 - 48 = 32,49 - 64 = 48,65 - 80 = 64,81 - 96 = 80,97 - 112 = 96,"
                 "113 - 128 = 112");
    ASSERT_EQ(dispatch(v1::kPinDescription, kOutputPin, 0, &p), 1);
    EXPECT_STREQ(p.name, "Output");
    EXPECT_EQ(p.direction, DR_OUT);
    EXPECT_EQ(p.flags, 0);

    // A refused query leaves the record as the host passed it.
    MVPinProperties before;
    std::memset(&before, 0x5A, sizeof before);
    p = before;
    EXPECT_EQ(dispatch(v1::kPinDescription, kPins, 0, &p), 0);
    EXPECT_EQ(dispatch(v1::kPinDescription, -1, 0, &p), 0);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
    EXPECT_EQ(dispatch(v1::kPinDescription, 0, 0, nullptr), 0);
}

TEST_F(V1Framework, OtherOpcodesAnswerZero) {
    EXPECT_EQ(dispatch(4), 0);
    EXPECT_EQ(dispatch(5), 0);
    EXPECT_EQ(dispatch(11), 0);
    EXPECT_EQ(dispatch(-3), 0);
    EXPECT_EQ(dispatch(v1::kSetSampleRate, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(dispatch(v1::kQueueEvent), 0);  // no event: nothing queued
    EXPECT_EQ(dispatch(v1::kQueueEmpty), 1);
}

TEST_F(V1Framework, OpenTakesTheClockAndCreatesAtLeastTheHostsPins) {
    m_host.clock = 5000;
    m_host.pin_count = 3;  // fewer than described: the described count wins
    open();
    auto* m = v1::V1Module::from_record(m_rec);
    ASSERT_EQ(m->pin_count(), kPins);
    EXPECT_EQ(m->sample_clock(), 5000);
    EXPECT_EQ(m->pin(kRangePin)->m_datatype, DT_ENUM);
    EXPECT_EQ(m->pin(kRangePin)->m_index, kRangePin);
    EXPECT_EQ(m->pin(5)->m_datatype, DT_FSAMPLE);
    EXPECT_EQ(m->pin(5)->m_state, PIN_STATIC);

    auto rec2 = chain::create_sequencer(&fake_callback);
    m_host.pin_count = 22;  // more than described: extras repeat the last description
    rec2->dispatcher(rec2, v1::kOpen, 0, 0, nullptr, 0.0f);
    auto* m2 = v1::V1Module::from_record(rec2);
    ASSERT_EQ(m2->pin_count(), 22);
    EXPECT_EQ(m2->pin(21)->m_datatype, DT_FSAMPLE);
    EXPECT_EQ(m2->pin(21)->m_index, 21);
    EXPECT_EQ(rec2->dispatcher(rec2, v1::kClose, 0, 0, nullptr, 0.0f), 1);
}

TEST_F(V1Framework, EventsWithEqualStampsAreHandledInQueueOrder) {
    open();
    queue_deferred<2>(10);
    queue_deferred<1>(4);
    queue_deferred<3>(10);
    queue_deferred<4>(10);
    queue_deferred<0>(0);
    EXPECT_EQ(dispatch(v1::kQueueEmpty), 0);
    process(0, kBlock);
    EXPECT_EQ(g_deferred, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(dispatch(v1::kQueueEmpty), 1);
}

TEST_F(V1Framework, ABlockIsSplitAtEventsAndAnEventBeyondItStaysQueued) {
    open();
    m_index.assign(kBlock, 0.1f);
    m_steps[0].assign(kBlock, 0.25f);
    m_steps[1].assign(kBlock, 0.5f);
    queue_state(0, kIndexPin, PIN_STREAMING);
    queue_state(12, kRangePin, PIN_CHANGED_ONCE, 16);
    queue_state(kBlock + 5, kRangePin, PIN_CHANGED_ONCE, 0);
    for (int i = 20; i < kBlock; ++i) m_index[i] = 1.8f;  // step 2 of the second range
    process(0, kBlock);
    EXPECT_EQ(dispatch(v1::kQueueEmpty), 0);  // the event of the next block waits
    for (int i = 0; i < 20; ++i) ASSERT_FLOAT_EQ(m_out[i], 0.25f) << i;
    for (int i = 20; i < kBlock; ++i) ASSERT_FLOAT_EQ(m_out[i], 0.5f) << i;

    // The output state goes out at the time of each event, from the clock the block reached.
    auto status = m_host.of(v1::kHostPinStatus);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].index, kOutputPin);
    EXPECT_EQ(status[0].value, PIN_STREAMING);
    EXPECT_EQ(status[0].ptr, 0);
    EXPECT_EQ(status[1].value, PIN_STREAMING);  // the index still streams
    EXPECT_EQ(status[1].ptr, 12);

    process(0, kBlock);
    EXPECT_EQ(dispatch(v1::kQueueEmpty), 1);
    EXPECT_EQ(m_host.of(v1::kHostPinStatus).back().ptr, kBlock + 5);
}

TEST_F(V1Framework, ResumeRestampsPastEventsToTheFirstSampleOfTheNextBlock) {
    open();
    queue_state(0, kIndexPin, PIN_STATIC);
    process(0, kBlock);
    process(0, kBlock);
    EXPECT_FALSE(m_host.of(v1::kHostSleep).empty());

    // Asleep for a while; the host's clock moved on without process calls.
    m_host.clock = 1000;
    queue_deferred<7>(100);  // stamped in the past
    queue_deferred<8>(1010);
    dispatch(v1::kResume);
    EXPECT_EQ(v1::V1Module::from_record(m_rec)->sample_clock(), 1000);
    m_index.assign(kBlock, 0.2f);
    m_steps[1].assign(kBlock, 0.75f);
    queue_state(1000, kIndexPin, PIN_CHANGED_ONCE);
    process(0, kBlock);
    EXPECT_EQ(g_deferred, (std::vector<int>{7, 8}));
    EXPECT_EQ(m_host.of(v1::kHostPinStatus).back().ptr, 1000);
    EXPECT_FLOAT_EQ(m_out[0], 0.75f);
}

TEST_F(V1Framework, StaticInputsGiveOneBlockThenASleepUnlessAnEventWaits) {
    open();
    m_index.assign(kBlock, 0.1f);
    m_steps[0].assign(kBlock, 0.3f);
    queue_state(0, kIndexPin, PIN_STATIC);
    queue_state(0, kRangePin, PIN_STATIC, 0);
    queue_state(3 * kBlock, kRangePin, PIN_CHANGED_ONCE, 0);
    process(0, kBlock);
    EXPECT_FLOAT_EQ(m_out[kBlock - 1], 0.3f);
    auto status = m_host.of(v1::kHostPinStatus);
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back().value, PIN_STATIC);
    EXPECT_TRUE(m_host.of(v1::kHostSleep).empty());  // an event is still queued
    process(0, kBlock);
    process(0, kBlock);
    EXPECT_TRUE(m_host.of(v1::kHostSleep).empty());
    // The event restarts the one-block countdown at the start of its block; the block ends it.
    process(0, kBlock);
    EXPECT_EQ(dispatch(v1::kQueueEmpty), 1);
    EXPECT_EQ(m_host.of(v1::kHostSleep).size(), 1u);
}

TEST_F(V1Framework, PinEventsStoreTheirValueByDataTypeAndIgnoreUnknownPins) {
    open();
    m_index.assign(kBlock, 1.7f);
    m_steps[0].assign(kBlock, 0.4f);
    queue_state(0, kRangePin, PIN_CHANGED_ONCE, 16);
    queue_state(0, kIndexPin, PIN_STREAMING);
    queue_state(0, 19, PIN_STREAMING, 12345);   // past the table
    queue_state(0, -1, PIN_STREAMING, 12345);
    process(0, kBlock);
    EXPECT_FLOAT_EQ(m_out[0], 0.4f);  // range 16: 17 V is its step 1
    auto* m = v1::V1Module::from_record(m_rec);
    EXPECT_EQ(m->pin(kRangePin)->m_state, PIN_STATIC);  // a single change goes back to static
    EXPECT_EQ(m->pin(kIndexPin)->m_state, PIN_STREAMING);
    EXPECT_EQ(m_host.of(v1::kHostPinStatus).size(), 2u);
}

void throwing_call(v1::V1Module*) { throw std::runtime_error("deferred call refused"); }

// A module whose pin descriptions throw, to reach the dispatcher with an exception.
class ThrowingModule : public v1::V1Module {
public:
    using V1Module::V1Module;
    bool pin_description(int, MVPinProperties*) override { throw std::runtime_error("description refused"); }
};

// Nothing unwinds into the host: a request that throws answers 0, a process call that throws ends
// its stretch, the queue and the clock stay right, and the module goes on working.
TEST_F(V1Framework, NoExceptionCrossesTheRecordsEntries) {
    open();
    queue(4, v1::kEventDeferredCall, 0, 0, reinterpret_cast<intptr_t>(&throwing_call));
    queue_deferred<1>(40);
    EXPECT_NO_THROW(process(0, kBlock));
    EXPECT_EQ(v1::V1Module::from_record(m_rec)->sample_clock(), kBlock);
    EXPECT_NO_THROW(process(0, kBlock));
    EXPECT_EQ(g_deferred, (std::vector<int>{1}));
    EXPECT_EQ(dispatch(v1::kQueueEmpty), 1);

    auto* thrower = new ThrowingModule(&fake_callback);
    MVModStructV1* rec = thrower->record();
    MVPinProperties p{};
    intptr_t result = -1;
    EXPECT_NO_THROW(result = rec->dispatcher(rec, v1::kPinDescription, 0, 0, &p, 0.0f));
    EXPECT_EQ(result, 0);
    EXPECT_NO_THROW(result = rec->dispatcher(rec, v1::kOpen, 0, 0, nullptr, 0.0f));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rec->dispatcher(rec, v1::kClose, 0, 0, nullptr, 0.0f), 1);
}

TEST_F(V1Framework, WithoutACallbackNothingBreaks) {
    auto* rec = chain::create_sequencer(nullptr);
    ASSERT_NE(rec, nullptr);
    rec->dispatcher(rec, v1::kOpen, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(v1::V1Module::from_record(rec)->pin_count(), kPins);  // the described pins
    rec->process(rec, 0, 16);
    EXPECT_EQ(rec->dispatcher(rec, v1::kClose, 0, 0, nullptr, 0.0f), 1);
}

}  // namespace
