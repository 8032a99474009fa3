#include "extension/ThraskVellAudioUnit.h"
#include "tests/dsp/BridgeTestSupport.h"
#include "tests/extension/StderrCapture.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

namespace thraskvell {
namespace {

// Hosts automate on their audio thread: writes, reads and the notifications they cause must not
// touch the heap, with the editor's kind of observer installed.
TEST(ThraskVellAudioUnitRealTime, TreeWritesReadsAndRenderingAllocateNothing) {
    constexpr int kFrames = 256;
    auto made = ThraskVellAudioUnit::create();
    ASSERT_TRUE(made);
    const auto unit = made.value();
    ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(44100, 2)));
    ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(44100, 2)));
    ASSERT_FALSE(unit->setMaximumFramesToRender(kFrames));
    test::captureStderr([&] { ASSERT_FALSE(unit->allocateRenderResources()); });
    const auto tree = unit->parameterTree();
    std::array<float, kParameterCount> echoed{};
    const auto editor = tree->tokenByAddingParameterObserver(
        [&echoed](AUParameterAddress address, AUValue value) { echoed[address] = value; });
    tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {});
    auto block = unit->internalRenderBlock();
    test::ChannelBuffers buffers(2, kFrames);
    buffers.data = {test::testSignal(kFrames, 1), test::testSignal(kFrames, 2)};
    for (int c = 0; c < 2; ++c)
        buffers.list.mBuffers[c].mData = buffers.data[std::size_t(c)].data();
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp timestamp{};

    const auto& parameters = tree->allParameters();
    float sum = 0.0f;
    const test::AllocationScope scope;
    for (int round = 0; round < 200; ++round) {
        for (const auto& parameter : parameters) {
            parameter->setValue(float(round % 100));
            parameter->setValue(float(round % 100) + 0.5f, editor);
            sum += parameter->value();
        }
        EXPECT_EQ(block(&flags, &timestamp, kFrames, 0, &buffers.list, nullptr, nullptr), 0);
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_GT(sum, 0.0f);
    EXPECT_EQ(echoed[kTrim], 99.0f) << "the editor's observer heard writes without it as originator";
}

} // namespace
} // namespace thraskvell
