// array_to_floats through the reference host: distribution, rebuild, growing outputs, idle calls.
#include <gtest/gtest.h>

#include <cstring>

#include "mvhost/host.h"

namespace {

const std::string kPlugin = std::string(MV_PLUGIN_DIR) + "/array_to_floats.so";
constexpr int kArray = 0, kItems = 1, kValue = 2;

struct ArrayHost : ::testing::Test {
    mvh::Host host;
    mvh::Instance* a = nullptr;

    // An instance with `outputs` "Value" pins in use, its "Array" holding `text` before open.
    void make(int outputs, const std::string& text = "") {
        mvh::InstanceOptions o;
        o.extra_duplicates = outputs;
        std::string error;
        a = host.add(kPlugin, "a", o, &error);
        ASSERT_NE(a, nullptr) << error;
        if (!text.empty()) a->set_text(kArray, text);
        host.open();
    }
    std::vector<float> values() const {
        std::vector<float> v;
        for (int i = kValue; i < static_cast<int>(a->pins().size()) - 1; ++i) v.push_back(a->value(i).f);
        return v;
    }
};

}  // namespace

TEST_F(ArrayHost, DescribesItselfWithGrowingValueOutputs) {
    make(0);
    EXPECT_EQ(a->plugin().name(), "ZR_ArrayToFloats");
    EXPECT_EQ(a->plugin().id(), "quenby ZR_ArrayToFloats ");
    EXPECT_EQ(a->plugin().about().rfind("ZR_ArrayToFloats module v1.0", 0), 0u);
    EXPECT_EQ(a->plugin().module_flags(), 256);
    EXPECT_EQ(a->plugin().sdk_version(), 2230);
    ASSERT_EQ(a->pins().size(), 3u);
    EXPECT_EQ(a->pins()[0].name, "Array");
    EXPECT_EQ(a->pins()[0].datatype, DT_TEXT);
    EXPECT_EQ(a->pins()[0].flags, 0x400);
    EXPECT_EQ(a->pins()[1].name, "# Items Out");
    EXPECT_EQ(a->pins()[1].direction, DR_OUT);
    EXPECT_EQ(a->pins()[2].name, "Value");
    EXPECT_EQ(a->pins()[2].datatype, DT_FLOAT);
    EXPECT_EQ(a->pins()[2].flags, 1100);
    EXPECT_EQ(a->audio_pin_count(), 0);
    EXPECT_TRUE(a->idle_calls);
    host.run_block();
    EXPECT_TRUE(a->sleeping());
}

TEST_F(ArrayHost, MissingItemsBecomeZero) {
    make(4);
    a->set_text(kArray, "1,2,3");
    EXPECT_EQ(values(), (std::vector<float>{1, 2, 3, 0}));
    EXPECT_EQ(a->value(kItems).f, 4.0f);
}

TEST_F(ArrayHost, MalformedItemsBecomeZeroOrTheirLeadingNumber) {
    make(3);
    a->set_text(kArray, "0.5,abc,7x");
    EXPECT_EQ(values(), (std::vector<float>{0.5f, 0, 7}));
}

// What is not a plain decimal number reaches no output as anything but 0, and the count of
// outputs in use is there from the first open.
TEST_F(ArrayHost, OnlyPlainNumbersReachTheOutputsAndTheCountIsSetAtOpen) {
    make(5, "0x10,inf,nan,1e39,2.5");
    EXPECT_EQ(a->value(kItems).f, 5.0f);
    EXPECT_EQ(values(), (std::vector<float>{0, 0, 0, 0, 2.5f}));
    EXPECT_EQ(a->value(kArray).text, "0x10,inf,nan,1e39,2.5");
}

TEST_F(ArrayHost, ItemsBeyondTheOutputsAreIgnoredAndKeptInTheText) {
    make(2, "1,2,3,4");
    EXPECT_EQ(values(), (std::vector<float>{1, 2}));
    // Opening distributes without rewriting the list from half-distributed values.
    EXPECT_EQ(a->value(kArray).text, "1,2,3,4");
    a->set_text(kArray, "5,6,7");
    EXPECT_EQ(values(), (std::vector<float>{5, 6}));
    EXPECT_EQ(a->value(kArray).text, "5,6,7");
}

TEST_F(ArrayHost, ChangingAValueRebuildsTheWholeList) {
    make(2);
    a->set_text(kArray, "1,5");
    a->set_float(kValue + 1, 2.25f);
    EXPECT_EQ(a->value(kArray).text, "1,2.25,");
    EXPECT_EQ(a->value(kItems).f, 2.0f);
}

TEST_F(ArrayHost, TheTextWithATrailingCommaRoundTrips) {
    make(2, "1,2.25,");
    EXPECT_EQ(values(), (std::vector<float>{1, 2.25f}));
    a->set_float(kValue, 1.0f);  // the same value, announced again
    EXPECT_EQ(a->value(kArray).text, "1,2.25,");
}

TEST_F(ArrayHost, NoOutputsInUseGiveAnEmptyList) {
    make(0);
    a->set_text(kArray, "1,2");
    EXPECT_EQ(a->value(kItems).f, 0.0f);
    a->set_float(kItems, 3.0f);  // the count pin is not a value
    EXPECT_EQ(a->value(kArray).text, "1,2");
}

TEST_F(ArrayHost, AFurtherConnectedOutputIsFilledAtTheNextIdleCall) {
    make(1, "1,2,3");
    mvh::Instance* b = host.add(kPlugin, "b");
    ASSERT_NE(b, nullptr);
    a->set_text(kArray, "1,2,3");
    EXPECT_EQ(a->value(kItems).f, 1.0f);
    const int spare = static_cast<int>(a->pins().size()) - 1;
    ASSERT_TRUE(host.connect(a, spare, b, kArray));
    EXPECT_EQ(a->pins().size(), 5u);
    host.idle();
    EXPECT_EQ(a->value(spare).f, 2.0f);
    EXPECT_EQ(a->value(kItems).f, 1.0f);  // the count follows at the next pin change
    a->set_text(kArray, "1,2,3");
    EXPECT_EQ(a->value(kItems).f, 2.0f);
}

TEST_F(ArrayHost, ANullHostCallbackIsSurvived) {
    mvh::InstanceOptions o;
    o.null_callback = true;
    o.extra_duplicates = 2;
    a = host.add(kPlugin, "a", o);
    ASSERT_NE(a, nullptr);
    host.open();
    MVPinChangedRecord r{0, nullptr};
    a->gui_dispatch(GD_PIN_CHANGED, 0, 0, &r);
    EXPECT_EQ(a->gui_dispatch(GD_IDLE), 1);
    host.close();
}
