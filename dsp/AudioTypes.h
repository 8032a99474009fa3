// Plain audio types shared by the DSP bridge, the plug-in object and the hosts that drive them.
//
// They mirror the shape of the classic audio-unit types (a buffer list of non-interleaved float
// channels, a time stamp, a render-event list, pull and render callables) so the bridge reads the
// same way on every host. Standard library only: the DSP core depends on this header.
//
// Threads: plain data. The callables are built on an ordinary thread (building may allocate) and
// invoked on the audio thread (invoking must not).
#pragma once

#include <array>
#include <cstdint>
#include <functional>

using AUAudioUnitStatus = std::int32_t;
using AUAudioFrameCount = std::uint32_t;
using AudioUnitRenderActionFlags = std::uint32_t;
using AUEventSampleTime = std::int64_t;
using NSInteger = std::int64_t;

inline constexpr AUAudioUnitStatus kAudioUnitErr_TooManyFramesToProcess = -10874;
inline constexpr AUAudioUnitStatus kAudioUnitErr_FailedInitialization = -10875;

struct AudioBuffer {
    std::uint32_t mNumberChannels = 1;
    std::uint32_t mDataByteSize = 0;
    float* mData = nullptr;
};

// Fixed room instead of a trailing variable-length array: no allocation, no layout tricks, and more
// than any caller here needs (the effect reads at most two buffers).
inline constexpr std::uint32_t kAudioBufferListCapacity = 8;

struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    std::array<AudioBuffer, kAudioBufferListCapacity> mBuffers{};
};

struct AudioTimeStamp {
    double mSampleTime = 0.0;
    std::uint64_t mHostTime = 0;
    std::uint32_t mFlags = 0;
};

struct AURenderEvent {
    const AURenderEvent* next = nullptr;
    AUEventSampleTime eventSampleTime = 0;
    std::uint8_t eventType = 0;
};

using AURenderPullInputBlock = std::function<AUAudioUnitStatus(
    AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
    NSInteger inputBusNumber, AudioBufferList* inputData)>;

// The pull block travels by pointer (null = no upstream) so a render call never copies a callable.
using AUInternalRenderBlock = std::function<AUAudioUnitStatus(
    AudioUnitRenderActionFlags* actionFlags, const AudioTimeStamp* timestamp, AUAudioFrameCount frameCount,
    NSInteger outputBusNumber, AudioBufferList* outputData, const AURenderEvent* realtimeEventListHead,
    const AURenderPullInputBlock* pullInputBlock)>;
