#include "extension/ThraskVellAudioUnit.h"
#include "parameters/ThraskVellParameterTree.h"
#include "tests/dsp/BridgeTestSupport.h"
#include "tests/extension/StderrCapture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace thraskvell {
namespace {

std::shared_ptr<ThraskVellAudioUnit> makeUnit() {
    auto made = ThraskVellAudioUnit::create();
    EXPECT_TRUE(made) << (made ? "" : made.error().localizedDescription);
    return made ? made.value() : nullptr;
}

TEST(ThraskVellAudioUnit, StartsWithMonoBusesAtDefaultsAndTheTableAsTree) {
    const auto unit = makeUnit();
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->componentDescription(), kThraskVellComponentDescription);
    ASSERT_NE(unit->inputBusses(), nullptr);
    ASSERT_NE(unit->outputBusses(), nullptr);
    EXPECT_EQ(unit->inputBusses()->count(), 1u);
    EXPECT_EQ(unit->outputBusses()->count(), 1u);
    EXPECT_EQ(unit->inputBusses()->busType(), AUAudioUnitBusType::Input);
    EXPECT_EQ(unit->outputBusses()->busType(), AUAudioUnitBusType::Output);
    for (const auto* bus : {(*unit->inputBusses())[0], (*unit->outputBusses())[0]}) {
        EXPECT_EQ(bus->format()->sampleRate(), 44100.0);
        EXPECT_EQ(bus->format()->channelCount(), 1u);
        EXPECT_TRUE(bus->format()->isStandard());
        EXPECT_EQ(bus->maximumChannelCount(), 2u);
    }
    EXPECT_EQ(unit->inputBus().format(), unit->outputBus().format()) << "one format object for both";
    EXPECT_EQ(unit->channelCapabilities(), (std::vector<int>{1, 1, 2, 2}));
    EXPECT_EQ(unit->dspBridge().maxFrames(), 0) << "nothing prepared before allocation";

    const auto tree = unit->parameterTree();
    ASSERT_NE(tree, nullptr);
    const auto& parameters = tree->allParameters();
    ASSERT_EQ(parameters.size(), kParameterCount);
    const char* names[] = {"Trim",    "Gate",      "Volume",    "Tone",           "Sustain",   "Blend",
                           "Drymode", "Bassboost", "Asymmetry", "Dynamicsenable", "Threshold", "Ratio"};
    for (std::size_t i = 0; i < kParameterCount; ++i) {
        const auto& definition = kParameterSpecs[i];
        const auto& parameter = *parameters[i];
        EXPECT_EQ(parameter.identifier(), definition.identifier);
        EXPECT_EQ(parameter.displayName(), names[i]);
        EXPECT_EQ(parameter.address(), i);
        EXPECT_EQ(parameter.minValue(), 0.0f);
        EXPECT_EQ(parameter.maxValue(), 100.0f);
        EXPECT_EQ(parameter.unit(), 0u);
        EXPECT_FALSE(parameter.unitName());
        EXPECT_EQ(parameter.flags(), 0xC0000000u);
        EXPECT_FALSE(parameter.valueStrings());
        EXPECT_FALSE(parameter.dependentParameters());
        EXPECT_EQ(parameter.value(), definition.defaultValue) << definition.identifier;
        EXPECT_EQ(unit->dspBridge().getParameter(definition.identifier), definition.defaultValue) << definition.identifier;
    }
    EXPECT_EQ(tree->parameterWithAddress(7)->identifier(), "bassBoost");
    EXPECT_EQ(tree->valueForKey("trim")->value(), 50.0f);
    EXPECT_EQ(tree->valueForKey("dynamicsEnable")->value(), 0.0f);
}

TEST(ThraskVellAudioUnit, InitialisesFormatThenBusesThenBaseThenArraysAndTree) {
    std::vector<std::string> steps;
    ThraskVellAudioUnit::Seams seams;
    seams.makeFormat = [&](double rate, AVAudioChannelCount channels) {
        steps.push_back("format");
        EXPECT_EQ(rate, 44100.0);
        EXPECT_EQ(channels, 1u);
        return AVAudioFormat::makeStandard(rate, channels);
    };
    seams.makeBus = [&](std::shared_ptr<const AVAudioFormat> format) {
        steps.push_back("bus");
        return AUAudioUnitBus::make(std::move(format));
    };
    seams.baseInit = [&](const ThraskVellAudioUnit& unit) -> NSErrorOrSuccess {
        steps.push_back("base");
        EXPECT_EQ(unit.inputBus().maximumChannelCount(), 2u) << "channel limits are set before the base";
        EXPECT_EQ(unit.outputBus().maximumChannelCount(), 2u);
        EXPECT_EQ(unit.inputBusses(), nullptr) << "bus arrays come after the base";
        EXPECT_EQ(unit.outputBusses(), nullptr);
        EXPECT_EQ(unit.parameterTree(), nullptr) << "the tree comes last";
        return std::nullopt;
    };
    const AudioComponentDescription description{1, 2, 3, 4, 5};
    auto made = ThraskVellAudioUnit::create(description, 7, seams);
    ASSERT_TRUE(made);
    EXPECT_EQ(steps, (std::vector<std::string>{"format", "bus", "bus", "base"}));
    EXPECT_EQ(made.value()->componentDescription(), description) << "any description is accepted";
    EXPECT_EQ(made.value()->instantiationOptions(), 7u);
    EXPECT_NE(made.value()->inputBusses(), nullptr);
    EXPECT_NE(made.value()->parameterTree(), nullptr);
}

TEST(ThraskVellAudioUnit, EachFailingCreationStepReportsItsError) {
    const NSError busError{"BusDomain", 11, "no bus today"};
    const NSError baseError{"BaseDomain", 22, "no base today"};
    struct Case {
        const char* what;
        int failingBusCall; // 0: none, 1: input, 2: output
        bool formatFails;
        bool baseFails;
        NSError expected;
        int busCallsMade;
    };
    const Case cases[] = {
        {"format", 0, true, false, NSError{NSOSStatusErrorDomain, -10875, ""}, 0},
        {"input bus", 1, false, false, busError, 1},
        {"output bus", 2, false, false, busError, 2},
        {"base", 0, false, true, baseError, 2},
    };
    for (const auto& c : cases) {
        int busCalls = 0;
        bool baseRan = false;
        ThraskVellAudioUnit::Seams seams;
        seams.makeFormat = [&](double rate, AVAudioChannelCount channels) {
            return c.formatFails ? nullptr : AVAudioFormat::makeStandard(rate, channels);
        };
        seams.makeBus =
            [&](std::shared_ptr<const AVAudioFormat> format) -> NSResult<std::shared_ptr<AUAudioUnitBus>> {
            if (++busCalls == c.failingBusCall) return busError;
            return AUAudioUnitBus::make(std::move(format));
        };
        seams.baseInit = [&](const ThraskVellAudioUnit&) -> NSErrorOrSuccess {
            baseRan = true;
            if (c.baseFails) return baseError;
            return std::nullopt;
        };
        const auto made = ThraskVellAudioUnit::create(kThraskVellComponentDescription, 0, seams);
        ASSERT_FALSE(made) << c.what;
        EXPECT_EQ(made.error().domain, c.expected.domain) << c.what;
        EXPECT_EQ(made.error().code, c.expected.code) << c.what;
        if (!c.expected.localizedDescription.empty()) {
            EXPECT_EQ(made.error().localizedDescription, c.expected.localizedDescription) << c.what;
        }
        EXPECT_EQ(busCalls, c.busCallsMade) << c.what;
        EXPECT_EQ(baseRan, c.baseFails) << c.what << ": the base runs only after both buses exist";
    }
}

struct AllocationCase {
    const char* what;
    double inRate;
    AVAudioChannelCount inChannels;
    double outRate;
    AVAudioChannelCount outChannels;
    AUAudioFrameCount maxFrames;
    const char* line;
};

TEST(ThraskVellAudioUnit, AllocationLogsOneLineAndPreparesTheBridgeFromTheOutputFormat) {
    const AllocationCase cases[] = {
        {"initial mono", 44100, 1, 44100, 1, 512, "ThraskVell: in=1 ch @ 44100 Hz, out=1 ch @ 44100 Hz\n"},
        {"stereo 48k", 48000, 2, 48000, 2, 256, "ThraskVell: in=2 ch @ 48000 Hz, out=2 ch @ 48000 Hz\n"},
        {"rates differ", 44100, 1, 48000, 1, 1024, "ThraskVell: in=1 ch @ 44100 Hz, out=1 ch @ 48000 Hz\n"},
        {"fractional rate", 96000.25, 2, 96000.25, 2, 64,
         "ThraskVell: in=2 ch @ 96000 Hz, out=2 ch @ 96000 Hz\n"},
    };
    for (const auto& c : cases) {
        const auto unit = makeUnit();
        ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(c.inRate, c.inChannels)))
            << c.what;
        ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(c.outRate, c.outChannels)))
            << c.what;
        ASSERT_FALSE(unit->setMaximumFramesToRender(c.maxFrames)) << c.what;
        NSErrorOrSuccess error;
        const auto logged = test::captureStderr([&] { error = unit->allocateRenderResources(); });
        EXPECT_FALSE(error) << c.what;
        EXPECT_EQ(logged, c.line) << c.what;
        EXPECT_TRUE(unit->renderResourcesAllocated());
        EXPECT_EQ(unit->dspBridge().maxFrames(), int(c.maxFrames)) << c.what;
        EXPECT_EQ(unit->dspBridge().kernel().sampleRate, float(c.outRate)) << c.what;
        EXPECT_EQ(unit->dspBridge().kernel().channelStates.size(), c.outChannels) << c.what;
    }
}

TEST(ThraskVellAudioUnit, FailingBaseAllocationLogsNothingAndLeavesTheBridgeAsItWas) {
    const auto unit = makeUnit();
    const auto first = test::captureStderr([&] { EXPECT_FALSE(unit->allocateRenderResources()); });
    EXPECT_FALSE(first.empty());
    const auto* kernelBefore = &unit->dspBridge().kernel();
    const auto* inputBefore = unit->dspBridge().inputBufferList().mBuffers[0].mData;

    unit->deallocateRenderResources();
    ASSERT_FALSE(unit->setMaximumFramesToRender(2048));
    // Stereo in, mono out is not among the channel capabilities, so the base refuses it.
    ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(48000, 2)));
    ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(48000, 1)));
    NSErrorOrSuccess error;
    const auto logged = test::captureStderr([&] { error = unit->allocateRenderResources(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, NSOSStatusErrorDomain);
    EXPECT_EQ(error->code, kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(logged, "");
    EXPECT_FALSE(unit->renderResourcesAllocated());
    EXPECT_EQ(&unit->dspBridge().kernel(), kernelBefore);
    EXPECT_EQ(unit->dspBridge().inputBufferList().mBuffers[0].mData, inputBefore);
    EXPECT_EQ(unit->dspBridge().maxFrames(), 512);
    EXPECT_EQ(unit->dspBridge().kernel().sampleRate, 44100.0f);
    EXPECT_EQ(unit->dspBridge().kernel().channelStates.size(), 1u);
}

TEST(ThraskVellAudioUnit, BusesRefuseThreeChannels) {
    const auto unit = makeUnit();
    for (auto* bus : {&unit->inputBus(), &unit->outputBus()}) {
        const auto error = bus->setFormat(AVAudioFormat::makeStandard(44100, 3));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, kAudioUnitErr_FormatNotSupported);
        EXPECT_EQ(bus->format()->channelCount(), 1u);
    }
}

TEST(ThraskVellAudioUnit, TreeWritesReachTheBridgeUnclampedAndReadsComeFromIt) {
    const auto unit = makeUnit();
    const auto tree = unit->parameterTree();
    struct Case {
        const char* identifier;
        float value;
    };
    for (const auto& c :
         {Case{"gate", 30.0f}, Case{"volume", 150.0f}, Case{"ratio", -4.0f}, Case{"trim", 0.0f}}) {
        tree->valueForKey(c.identifier)->setValue(c.value);
        EXPECT_EQ(unit->dspBridge().getParameter(c.identifier), c.value) << c.identifier;
        EXPECT_EQ(tree->valueForKey(c.identifier)->value(), c.value) << c.identifier;
    }
    unit->dspBridge().setParameter("tone", 12.5f);
    EXPECT_EQ(tree->valueForKey("tone")->value(), 12.5f) << "reads ask the bridge";
}

TEST(ThraskVellAudioUnit, TreeOutlivingTheUnitWritesNothingAndReadsZero) {
    auto unit = makeUnit();
    const auto tree = unit->parameterTree();
    std::weak_ptr<ThraskVellAudioUnit> watch = unit;
    unit.reset();
    EXPECT_TRUE(watch.expired()) << "the tree's blocks must not keep the unit alive";
    tree->valueForKey("volume")->setValue(80.0f);
    EXPECT_EQ(tree->valueForKey("volume")->value(), 0.0f);
}

TEST(ThraskVellAudioUnit, ATreeSetFromOutsideGetsNoBlocks) {
    const auto unit = makeUnit();
    const auto foreign = makeThraskVellParameterTree();
    unit->setParameterTree(foreign);
    EXPECT_EQ(unit->parameterTree(), foreign);
    foreign->valueForKey("gate")->setValue(70.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("gate"), 0.0f);
    EXPECT_EQ(foreign->valueForKey("gate")->value(), 70.0f);
    unit->setParameterTree(nullptr);
    EXPECT_EQ(unit->parameterTree(), nullptr);
}

TEST(ThraskVellAudioUnit, RenderBlockIsTheBridgesOwn) {
    constexpr int kFrames = 256;
    const auto unit = makeUnit();
    ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(48000, 2)));
    ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(48000, 2)));
    ASSERT_FALSE(unit->setMaximumFramesToRender(kFrames));
    test::captureStderr([&] { ASSERT_FALSE(unit->allocateRenderResources()); });
    unit->parameterTree()->valueForKey("sustain")->setValue(90.0f);

    DSPBridge reference;
    ASSERT_TRUE(reference.prepare(kFrames, 48000, 2));
    reference.setParameter("sustain", 90.0f);

    auto block = unit->internalRenderBlock();
    auto referenceBlock = reference.internalRenderBlock();
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp timestamp{};
    for (int round = 0; round < 3; ++round) {
        test::ChannelBuffers ours(2, kFrames), theirs(2, kFrames);
        for (int c = 0; c < 2; ++c) {
            const auto signal = test::testSignal(kFrames, unsigned(round * 2 + c));
            std::memcpy(ours.data[std::size_t(c)].data(), signal.data(), sizeof(float) * kFrames);
            std::memcpy(theirs.data[std::size_t(c)].data(), signal.data(), sizeof(float) * kFrames);
        }
        EXPECT_EQ(block(&flags, &timestamp, kFrames, 0, &ours.list, nullptr, nullptr), 0);
        EXPECT_EQ(referenceBlock(&flags, &timestamp, kFrames, 0, &theirs.list, nullptr, nullptr), 0);
        EXPECT_EQ(ours.data, theirs.data);
        EXPECT_NE(ours.data[0], test::testSignal(kFrames, unsigned(round * 2))) << "it did process";
    }
}

} // namespace
} // namespace thraskvell
