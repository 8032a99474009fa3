#include "platform/AUAudioUnit.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(AVAudioFormat, MakesOnlySensibleFloatFormats) {
    constexpr auto kFloat = AVAudioCommonFormat::AVAudioPCMFormatFloat32;
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const struct {
        double rate;
        AVAudioChannelCount channels;
        bool made;
    } cases[] = {{44100.0, 1, true}, {192000.0, 64, true}, {48000.0, 0, false}, {48000.0, 65, false},
                 {0.0, 1, false},    {-44100.0, 1, false}, {nan, 1, false},     {inf, 1, false}};
    for (const auto& c : cases) {
        const auto format = AVAudioFormat::makeCommon(kFloat, c.rate, c.channels, false);
        ASSERT_EQ(format != nullptr, c.made) << c.rate << " Hz, " << c.channels << " ch";
        if (format) {
            EXPECT_EQ(format->sampleRate(), c.rate);
            EXPECT_EQ(format->channelCount(), c.channels);
            EXPECT_TRUE(format->isStandard());
        }
    }
    EXPECT_FALSE(AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatInt16, 44100.0, 1, false));
    EXPECT_FALSE(AVAudioFormat::makeCommon(kFloat, 44100.0, 2, true)->isStandard());
}

class PlainUnit : public AUAudioUnit {
public:
    PlainUnit(AVAudioChannelCount in, AVAudioChannelCount out) {
        initWithComponentDescription({1, 2, 3, 0, 0}, 0);
        const auto bus = [](AVAudioChannelCount n) {
            return std::vector{AUAudioUnitBus::make(AVAudioFormat::makeStandard(44100.0, n)).value()};
        };
        _inputs = std::make_unique<AUAudioUnitBusArray>(*this, AUAudioUnitBusType::Input, bus(in));
        _outputs = std::make_unique<AUAudioUnitBusArray>(*this, AUAudioUnitBusType::Output, bus(out));
    }
    std::vector<int> channelCapabilities() const override { return {1, 1, 2, 2, -1, 4}; }
    AUAudioUnitBusArray* inputBusses() const override { return _inputs.get(); }
    AUAudioUnitBusArray* outputBusses() const override { return _outputs.get(); }

private:
    std::unique_ptr<AUAudioUnitBusArray> _inputs, _outputs;
};

TEST(AUAudioUnit, AllocationChecksChannelCapabilities) {
    const struct {
        AVAudioChannelCount in, out;
        bool allocates;
    } cases[] = {{1, 1, true}, {2, 2, true}, {1, 2, false}, {2, 1, false}, {3, 4, true}, {3, 3, false}};
    for (const auto& c : cases) {
        PlainUnit unit(c.in, c.out);
        const auto error = unit.allocateRenderResources();
        EXPECT_EQ(!error, c.allocates) << c.in << " -> " << c.out;
        EXPECT_EQ(unit.renderResourcesAllocated(), c.allocates);
        EXPECT_EQ(error ? error->code : 0, c.allocates ? 0 : kAudioUnitErr_FormatNotSupported);
    }
}

TEST(AUAudioUnit, BusesAndFrameCountsChangeOnlyWithinLimitsAndWhileDeallocated) {
    PlainUnit unit(1, 1);
    auto& bus = *unit.outputBusses()->objectAtIndexedSubscript(0);
    bus.setMaximumChannelCount(2);
    EXPECT_FALSE(bus.setFormat(AVAudioFormat::makeStandard(48000.0, 2)));
    const auto tooWide = bus.setFormat(AVAudioFormat::makeStandard(48000.0, 3));
    ASSERT_TRUE(tooWide);
    EXPECT_EQ(tooWide->domain, NSOSStatusErrorDomain);
    EXPECT_EQ(tooWide->code, kAudioUnitErr_FormatNotSupported);
    EXPECT_NE(tooWide->localizedDescription.find("at most 2"), std::string::npos)
        << tooWide->localizedDescription;
    EXPECT_EQ(bus.format()->channelCount(), 2u) << "a refused format leaves the bus as it was";
    EXPECT_TRUE(bus.setFormat(nullptr));
    EXPECT_TRUE(bus.setFormat(
        AVAudioFormat::makeCommon(AVAudioCommonFormat::AVAudioPCMFormatFloat32, 48000.0, 1, true)));
    EXPECT_FALSE(AUAudioUnitBus::make(nullptr));
    EXPECT_FALSE(bus.setFormat(AVAudioFormat::makeStandard(44100.0, 1)));

    EXPECT_EQ(unit.maximumFramesToRender(), AUAudioUnit::kDefaultMaximumFramesToRender);
    EXPECT_TRUE(unit.setMaximumFramesToRender(0));
    EXPECT_TRUE(unit.setMaximumFramesToRender(AUAudioFrameCount(INT32_MAX) + 1));
    ASSERT_FALSE(unit.allocateRenderResources());
    EXPECT_EQ(unit.setMaximumFramesToRender(1024)->code, kAudioUnitErr_CannotDoInCurrentContext);
    EXPECT_EQ(bus.setFormat(AVAudioFormat::makeStandard(96000, 1))->code,
              kAudioUnitErr_CannotDoInCurrentContext);
    unit.deallocateRenderResources();
    EXPECT_FALSE(unit.setMaximumFramesToRender(1024));
    EXPECT_EQ(unit.maximumFramesToRender(), 1024u);
    EXPECT_EQ(unit.outputBusses()->objectAtIndexedSubscript(1), nullptr);
}

TEST(AUAudioUnit, FullStateKeepsForeignKeysUnderItsOwn) {
    PlainUnit unit(1, 1);
    const StateDictionary own{{"type", 1.0}, {"subtype", 2.0}, {"manufacturer", 3.0}};
    EXPECT_EQ(unit.fullState(), own);
    unit.setFullState(StateDictionary{{"type", std::string("spoof")}, {"future", 9.0}});
    auto withFuture = own;
    withFuture.emplace("future", 9.0);
    EXPECT_EQ(unit.fullState(), withFuture);
    unit.setFullState(std::nullopt);
    EXPECT_EQ(unit.fullState(), own);
}

} // namespace
