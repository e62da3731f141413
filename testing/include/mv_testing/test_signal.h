// The test-signal plug-in (testing/plugins/test_signal.cpp): where it is, its pins and shapes. A
// test that uses it depends on the target test_signal.
#pragma once

#include <string>

namespace mv_testing {

inline std::string test_signal_plugin() { return std::string(MV_BINARY_DIR) + "/tests/plugins/test_signal.so"; }

enum TestSignalPin { kSignalOut, kSignalShape, kSignalScale, kSignalAnnounce };
// Written: the plug-in never touches its buffer; the test writes it before each block.
enum TestSignalShape { kImpulse, kRamp, kSine, kSteps, kSaw, kWritten };
enum TestSignalAnnounce { kAnnounceAtFirstBlock, kAnnounceAtOpen };

}  // namespace mv_testing
