#include "platform/AUAudioUnit.h"

#include <gtest/gtest.h>

namespace {

TEST(AVAudioFormat, MakesOnlySensibleFloatFormats) {
    struct Case {
        AVAudioCommonFormat common;
        double rate;
        AVAudioChannelCount channels;
        bool made;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, 44100.0, 1, true},
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, 192000.0, 64, true},
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, 48000.0, 0, false},
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, 48000.0, 65, false},
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, 0.0, 1, false},
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, -44100.0, 1, false},
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, nan, 1, false},
        {AVAudioCommonFormat::AVAudioPCMFormatFloat32, inf, 1, false},
        {AVAudioCommonFormat::AVAudioPCMFormatInt16, 44100.0, 1, false},
    };
    for (const auto& c : cases) {
        const auto format = AVAudioFormat::makeCommon(c.common, c.rate, c.channels, false);
        EXPECT_EQ(format != nullptr, c.made) << c.rate << " Hz, " << c.channels << " ch";
        if (format) {
            EXPECT_EQ(format->sampleRate(), c.rate);
            EXPECT_EQ(format->channelCount(), c.channels);
            EXPECT_TRUE(format->isStandard());
        }
    }
    EXPECT_FALSE(AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatFloat32, 44100.0, 2, true)
                     ->isStandard());
}

TEST(AUAudioUnitBus, RefusesFormatsBeyondItsMaximumChannelCount) {
    auto made = AUAudioUnitBus::make(AVAudioFormat::makeStandard(44100.0, 1));
    ASSERT_TRUE(made);
    auto& bus = *made.value();
    bus.setMaximumChannelCount(2);
    EXPECT_FALSE(bus.setFormat(AVAudioFormat::makeStandard(48000.0, 2)));
    EXPECT_EQ(bus.format()->channelCount(), 2u);

    const auto refused = bus.setFormat(AVAudioFormat::makeStandard(48000.0, 3));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->domain, NSOSStatusErrorDomain);
    EXPECT_EQ(refused->code, kAudioUnitErr_FormatNotSupported);
    EXPECT_NE(refused->localizedDescription.find("at most 2"), std::string::npos)
        << refused->localizedDescription;
    EXPECT_EQ(bus.format()->channelCount(), 2u) << "a refused format leaves the bus as it was";

    EXPECT_TRUE(bus.setFormat(nullptr));
    EXPECT_TRUE(bus.setFormat(
        AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatFloat32, 48000.0, 1, true)));
    EXPECT_FALSE(AUAudioUnitBus::make(nullptr));
}

class PlainUnit : public AUAudioUnit {
public:
    PlainUnit(AVAudioChannelCount in, AVAudioChannelCount out) {
        initWithComponentDescription({1, 2, 3, 0, 0}, 0);
        auto inputBus = AUAudioUnitBus::make(AVAudioFormat::makeStandard(44100.0, in)).value();
        auto outputBus = AUAudioUnitBus::make(AVAudioFormat::makeStandard(44100.0, out)).value();
        _inputs = std::make_unique<AUAudioUnitBusArray>(
            *this, AUAudioUnitBusType::Input, std::vector<std::shared_ptr<AUAudioUnitBus>>{inputBus});
        _outputs = std::make_unique<AUAudioUnitBusArray>(
            *this, AUAudioUnitBusType::Output, std::vector<std::shared_ptr<AUAudioUnitBus>>{outputBus});
    }
    std::vector<int> channelCapabilities() const override { return {1, 1, 2, 2, -1, 4}; }
    AUAudioUnitBusArray* inputBusses() const override { return _inputs.get(); }
    AUAudioUnitBusArray* outputBusses() const override { return _outputs.get(); }

private:
    std::unique_ptr<AUAudioUnitBusArray> _inputs, _outputs;
};

TEST(AUAudioUnit, AllocationChecksChannelCapabilities) {
    struct Case {
        AVAudioChannelCount in, out;
        bool allocates;
    };
    const Case cases[] = {{1, 1, true},  {2, 2, true}, {1, 2, false},
                          {2, 1, false}, {3, 4, true}, {3, 3, false}};
    for (const auto& c : cases) {
        PlainUnit unit(c.in, c.out);
        const auto error = unit.allocateRenderResources();
        EXPECT_EQ(!error, c.allocates) << c.in << " -> " << c.out;
        EXPECT_EQ(unit.renderResourcesAllocated(), c.allocates);
        if (error) {
            EXPECT_EQ(error->code, kAudioUnitErr_FormatNotSupported);
        }
    }
}

TEST(AUAudioUnit, NothingChangesUnderAllocatedResources) {
    PlainUnit unit(1, 1);
    EXPECT_EQ(unit.maximumFramesToRender(), AUAudioUnit::kDefaultMaximumFramesToRender);
    EXPECT_TRUE(unit.setMaximumFramesToRender(0));
    EXPECT_TRUE(unit.setMaximumFramesToRender(AUAudioFrameCount(INT32_MAX) + 1));
    EXPECT_FALSE(unit.setMaximumFramesToRender(4096));
    ASSERT_FALSE(unit.allocateRenderResources());
    const auto frames = unit.setMaximumFramesToRender(1024);
    ASSERT_TRUE(frames);
    EXPECT_EQ(frames->code, kAudioUnitErr_CannotDoInCurrentContext);
    const auto format =
        unit.outputBusses()->objectAtIndexedSubscript(0)->setFormat(AVAudioFormat::makeStandard(96000, 1));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->code, kAudioUnitErr_CannotDoInCurrentContext);
    unit.deallocateRenderResources();
    EXPECT_FALSE(unit.setMaximumFramesToRender(1024));
    EXPECT_EQ(unit.maximumFramesToRender(), 1024u);
    EXPECT_EQ(unit.outputBusses()->objectAtIndexedSubscript(1), nullptr);
}

TEST(AUAudioUnit, FullStateKeepsForeignKeysUnderItsOwn) {
    PlainUnit unit(1, 1);
    EXPECT_EQ(unit.fullState(), (StateDictionary{{"type", 1.0}, {"subtype", 2.0}, {"manufacturer", 3.0}}));
    unit.setFullState(StateDictionary{{"type", std::string("spoof")}, {"future", 9.0}});
    EXPECT_EQ(unit.fullState(),
              (StateDictionary{{"type", 1.0}, {"subtype", 2.0}, {"manufacturer", 3.0}, {"future", 9.0}}));
    unit.setFullState(std::nullopt);
    EXPECT_EQ(unit.fullState()->size(), 3u);
}

} // namespace
