#include "extension/ThraskVellAudioUnit.h"
#include "parameters/ThraskVellParameterTree.h"

#include <gtest/gtest.h>

namespace thraskvell {
namespace {

std::shared_ptr<ThraskVellAudioUnit> makeUnit() {
    auto made = ThraskVellAudioUnit::create();
    EXPECT_TRUE(made) << (made ? "" : made.error().localizedDescription);
    return made ? made.value() : nullptr;
}

TEST(ThraskVellAudioUnit, StartsMonoAtTheDefaultsWithBusesOfAtMostTwoChannels) {
    const auto unit = makeUnit();
    ASSERT_NE(unit, nullptr);
    for (auto* bus : {(*unit->inputBusses())[0], (*unit->outputBusses())[0]}) {
        EXPECT_EQ(bus->format()->sampleRate(), 44100.0);
        EXPECT_EQ(bus->format()->channelCount(), 1u);
        EXPECT_EQ(bus->setFormat(AVAudioFormat::makeStandard(44100, 3))->code,
                  kAudioUnitErr_FormatNotSupported);
        EXPECT_FALSE(bus->setFormat(AVAudioFormat::makeStandard(44100, 2)));
    }
    // Hosts show these names and store these addresses and flags (readable, writable).
    std::string names;
    const auto& parameters = unit->parameterTree()->allParameters();
    ASSERT_EQ(parameters.size(), kParameterCount);
    for (const auto& definition : allParameters()) {
        const auto& parameter = *parameters[definition.address];
        names += parameter.displayName() + " ";
        EXPECT_EQ(parameter.identifier(), definition.identifier);
        EXPECT_EQ(parameter.address(), definition.address);
        EXPECT_EQ(parameter.minValue(), definition.minValue);
        EXPECT_EQ(parameter.maxValue(), definition.maxValue);
        EXPECT_EQ(parameter.flags(), 0xC0000000u) << definition.identifier;
        EXPECT_EQ(parameter.value(), definition.defaultValue) << definition.identifier;
        EXPECT_EQ(unit->dspBridge().getParameter(definition.identifier), definition.defaultValue);
    }
    EXPECT_EQ(
        names,
        "Trim Gate Volume Tone Sustain Blend Drymode Bassboost Asymmetry Dynamicsenable Threshold Ratio ");
}

// Each case starts from a unit allocated once at its initial format, then deallocated.
TEST(ThraskVellAudioUnit, AllocationLogsOneLineAndPreparesTheBridgeFromTheOutputFormat) {
    struct Case {
        const char* what;
        double inRate, outRate;
        AVAudioChannelCount inChannels, outChannels;
        AUAudioFrameCount maxFrames;
        NSInteger error; // 0: none; the bridge then keeps its first preparation
        const char* line;
    };
    const Case cases[] = {
        {"stereo 48k", 48000, 48000, 2, 2, 256, 0, "ThraskVell: in=2 ch @ 48000 Hz, out=2 ch @ 48000 Hz\n"},
        {"rates differ", 44100, 48000, 1, 1, 1024, 0,
         "ThraskVell: in=1 ch @ 44100 Hz, out=1 ch @ 48000 Hz\n"},
        {"fractional rate", 96000.25, 96000.25, 2, 2, 64, 0,
         "ThraskVell: in=2 ch @ 96000 Hz, out=2 ch @ 96000 Hz\n"},
        {"stereo in, mono out", 48000, 48000, 2, 1, 2048, kAudioUnitErr_FormatNotSupported, ""},
        {"too many frames for the bridge", 48000, 48000, 1, 1, 1u << 30, kAudioUnitErr_FailedInitialization,
         "ThraskVell: in=1 ch @ 48000 Hz, out=1 ch @ 48000 Hz\n"},
    };
    for (const auto& c : cases) {
        const auto unit = makeUnit();
        ::testing::internal::CaptureStderr();
        ASSERT_FALSE(unit->allocateRenderResources()) << c.what;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "ThraskVell: in=1 ch @ 44100 Hz, out=1 ch @ 44100 Hz\n");
        unit->deallocateRenderResources();
        ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(c.inRate, c.inChannels)))
            << c.what;
        ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(c.outRate, c.outChannels)))
            << c.what;
        ASSERT_FALSE(unit->setMaximumFramesToRender(c.maxFrames)) << c.what;

        ::testing::internal::CaptureStderr();
        const auto error = unit->allocateRenderResources();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line) << c.what;
        EXPECT_EQ(error ? error->code : 0, c.error) << c.what;
        EXPECT_EQ(unit->renderResourcesAllocated(), c.error == 0) << c.what;
        const auto& kernel = unit->dspBridge().kernel();
        EXPECT_EQ(unit->dspBridge().maxFrames(), c.error ? 512 : int(c.maxFrames)) << c.what;
        EXPECT_EQ(kernel.sampleRate, c.error ? 44100.0f : float(c.outRate)) << c.what;
        EXPECT_EQ(kernel.channelStates.size(), c.error ? 1u : c.outChannels) << c.what;
    }
}

TEST(ThraskVellAudioUnit, TreeReachesTheBridgeUnclampedAndHoldsTheUnitOnlyWeakly) {
    auto unit = makeUnit();
    const auto tree = unit->parameterTree();
    tree->valueForKey("volume")->setValue(150.0f);
    tree->valueForKey("ratio")->setValue(-4.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("volume"), 150.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("ratio"), -4.0f);
    unit->dspBridge().setParameter("tone", 12.5f);
    EXPECT_EQ(tree->valueForKey("tone")->value(), 12.5f) << "reads ask the bridge";

    // A tree from outside is stored as it is, tied to nothing.
    const auto foreign = makeThraskVellParameterTree();
    unit->setParameterTree(foreign);
    foreign->valueForKey("gate")->setValue(70.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("gate"), 0.0f);

    const std::weak_ptr<ThraskVellAudioUnit> watch = unit;
    unit.reset();
    EXPECT_TRUE(watch.expired()) << "the tree's blocks must not keep the unit alive";
    tree->valueForKey("volume")->setValue(80.0f);
    EXPECT_EQ(tree->valueForKey("volume")->value(), 0.0f);
}

} // namespace
} // namespace thraskvell
