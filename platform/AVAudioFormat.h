// The audio format a bus carries: sample layout, rate and channel count.
//
// Only the float32 common format is produced here. A format is immutable once made and is shared by
// the buses that carry it.
//
// Threads: make on any thread; a made format is read-only and may be read on any thread.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>

using AVAudioChannelCount = std::uint32_t;

enum class AVAudioCommonFormat : std::uint32_t {
    AVAudioOtherFormat = 0,
    AVAudioPCMFormatFloat32 = 1,
    AVAudioPCMFormatFloat64 = 2,
    AVAudioPCMFormatInt16 = 3,
    AVAudioPCMFormatInt32 = 4,
};

class AVAudioFormat {
public:
    // More channels than any layout the platform describes.
    static constexpr AVAudioChannelCount kMaximumChannelCount = 64;

    // Any thread. nullptr for a rate that is not finite and positive, for 0 channels or more than
    // kMaximumChannelCount, or for a common format other than float32.
    static std::shared_ptr<const AVAudioFormat> makeCommon(AVAudioCommonFormat format, double sampleRate,
                                                           AVAudioChannelCount channels, bool interleaved) {
        if (format != AVAudioCommonFormat::AVAudioPCMFormatFloat32) return nullptr;
        if (!std::isfinite(sampleRate) || sampleRate <= 0.0) return nullptr;
        if (channels == 0 || channels > kMaximumChannelCount) return nullptr;
        return std::shared_ptr<const AVAudioFormat>(
            new AVAudioFormat(format, sampleRate, channels, interleaved));
    }

    // Any thread. The standard format: float32, non-interleaved.
    static std::shared_ptr<const AVAudioFormat> makeStandard(double sampleRate,
                                                             AVAudioChannelCount channels) {
        return makeCommon(AVAudioCommonFormat::AVAudioPCMFormatFloat32, sampleRate, channels, false);
    }

    AVAudioCommonFormat commonFormat() const { return _commonFormat; }
    double sampleRate() const { return _sampleRate; }
    AVAudioChannelCount channelCount() const { return _channelCount; }
    bool isInterleaved() const { return _interleaved; }
    bool isStandard() const {
        return _commonFormat == AVAudioCommonFormat::AVAudioPCMFormatFloat32 && !_interleaved;
    }

private:
    AVAudioFormat(AVAudioCommonFormat format, double sampleRate, AVAudioChannelCount channels,
                  bool interleaved)
        : _commonFormat(format), _sampleRate(sampleRate), _channelCount(channels), _interleaved(interleaved) {
    }

    AVAudioCommonFormat _commonFormat;
    double _sampleRate;
    AVAudioChannelCount _channelCount;
    bool _interleaved;
};
