// The demo's audio engine: a small stand-in for the platform's AVAudioEngine graph, played through
// SDL2 (which reaches PipeWire, PulseAudio, ALSA and JACK).
//
// What it offers: source nodes that render through a callback, a main mixer that sums them at unity
// gain, an output, a tap on the mixer's output bus that delivers whole buffers of a requested frame
// count, and start (success or an error with a printable description) / stop. The graph always runs
// as 32-bit float, non-interleaved, at the mixer's format (two channels at the rate of the first
// source connected to it, 44100 Hz if none); SDL converts to whatever the device wants.
//
// Ownership: the engine owns the mixer, the output and every attached node. A source node owns its
// render callback. The tap's callback is owned by the mixer until the tap is removed.
//
// Threads:
//  - Building the graph (attach, connect, install or remove the tap), start and stop: main, and only
//    while stopped where said. Not for concurrent use.
//  - Source-node callbacks run on SDL's real-time audio thread, one block at a time. The engine's
//    side of that thread allocates nothing, takes no lock and makes no system call: mixing buffers
//    and the tap's ring are sized by start().
//  - The tap callback runs on the engine's own tap thread (neither main nor real-time), which
//    assembles whole buffers from a lock-free ring that the real-time side only copies into.
#pragma once

#include "dsp/AudioTypes.h"
#include "platform/AVAudioFormat.h"
#include "platform/NSError.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using OSStatus = std::int32_t;
using AVAudioFrameCount = std::uint32_t;
using AVAudioNodeBus = std::uint64_t;
using AVAudioFramePosition = std::int64_t;
using AVAudioFormatPtr = std::shared_ptr<const AVAudioFormat>;

inline constexpr OSStatus noErr = 0;
inline constexpr const char* AVAudioEngineErrorDomain = "AVAudioEngine";

// Any. Same layout, rate and channel count (null equals only null).
bool AVAudioFormatsMatch(const AVAudioFormat* a, const AVAudioFormat* b);

// Where a tap buffer starts: frames handed to the tap since start (frames the real-time side had to
// drop are not counted). Plain value.
struct AVAudioTime {
    AVAudioFramePosition sampleTime = 0;
    double sampleRate = 0.0;
};

// Float sample storage delivered to a tap: frameCapacity frames per channel, frameLength valid.
// Owned by whoever holds it; not shared with the audio thread.
class AVAudioPCMBuffer {
public:
    // Any thread but the real-time one (allocates). Throws std::invalid_argument for a null or
    // non-standard format.
    AVAudioPCMBuffer(AVAudioFormatPtr format, AVAudioFrameCount frameCapacity);

    const AVAudioFormatPtr& format() const { return _format; }
    AVAudioFrameCount frameCapacity() const { return _frameCapacity; }
    AVAudioFrameCount frameLength() const { return _frameLength; }
    // Clamped to frameCapacity.
    void setFrameLength(AVAudioFrameCount length);
    // One pointer per channel, each to frameCapacity samples. Never null for the standard format.
    float* const* floatChannelData() const { return _channelPointers.data(); }
    std::size_t stride() const { return 1; }

private:
    AVAudioFormatPtr _format;
    AVAudioFrameCount _frameCapacity;
    AVAudioFrameCount _frameLength = 0;
    std::vector<float> _storage;
    std::vector<float*> _channelPointers;
};

class AVAudioEngine;

// A node of the graph. Created on main; owned by the engine once attached.
class AVAudioNode {
public:
    virtual ~AVAudioNode() = default;
    AVAudioNode(const AVAudioNode&) = delete;
    AVAudioNode& operator=(const AVAudioNode&) = delete;

    // Main. The engine this node is attached to, or null.
    AVAudioEngine* engine() const { return _engine; }

protected:
    AVAudioNode() = default;

private:
    friend class AVAudioEngine;
    AVAudioEngine* _engine = nullptr;
};

// Called on the real-time thread with the silence flag to set, the time, the frame count and the
// output list (one buffer per channel of the node's format, frameCount samples each). Must not
// allocate, lock or make system calls. A nonzero status or a raised silence flag makes the mixer
// treat the block as silence.
using AVAudioSourceNodeRenderBlock =
    std::function<OSStatus(bool* isSilence, const AudioTimeStamp* timestamp, AVAudioFrameCount frameCount,
                           AudioBufferList* outputData)>;

class AVAudioSourceNode final : public AVAudioNode {
public:
    // Main. Throws std::invalid_argument for a null or non-standard format or more channels than a
    // buffer list holds.
    AVAudioSourceNode(AVAudioFormatPtr format, AVAudioSourceNodeRenderBlock renderBlock);

    // Any.
    const AVAudioFormatPtr& format() const { return _format; }
    // Main; for tests that drive the node by hand.
    const AVAudioSourceNodeRenderBlock& renderBlock() const { return _renderBlock; }

private:
    AVAudioFormatPtr _format;
    AVAudioSourceNodeRenderBlock _renderBlock;
};

// Runs on the tap thread with each whole buffer and the time of its first frame. May keep the buffer;
// must not stop the engine (stop waits for this thread).
using AVAudioNodeTapBlock =
    std::function<void(std::shared_ptr<AVAudioPCMBuffer> buffer, const AVAudioTime& when)>;

class AVAudioMixerNode final : public AVAudioNode {
public:
    static constexpr AVAudioFrameCount kMaxTapBufferFrames = 1u << 16;

    // Main. Bus 0 only. The format is the bus's own format. Returns false, installing nothing, for
    // another bus, a bufferSize of 0 or above kMaxTapBufferFrames, a format other than the bus's,
    // an empty block, a tap already installed, or a running engine.
    bool installTapOnBus(AVAudioNodeBus bus, AVAudioFrameCount bufferSize, const AVAudioFormatPtr& format,
                         AVAudioNodeTapBlock block);
    // Main, while stopped. Returns whether a tap was removed.
    bool removeTapOnBus(AVAudioNodeBus bus);

    // Main.
    AVAudioFormatPtr outputFormatForBus(AVAudioNodeBus bus) const;
    // Main. Gain applied to the sum, taking effect at the next start; 1 leaves samples untouched.
    float outputVolume() const { return _outputVolume; }
    void setOutputVolume(float volume) { _outputVolume = volume; }

private:
    friend class AVAudioEngine;
    AVAudioMixerNode() = default;
    float _outputVolume = 1.0f;
    AVAudioFrameCount _tapBufferSize = 0;
    AVAudioNodeTapBlock _tapBlock;
};

class AVAudioOutputNode final : public AVAudioNode {
private:
    friend class AVAudioEngine;
    AVAudioOutputNode() = default;
};

class AVAudioEngine {
public:
    // Frames SDL is asked for per device callback; blocks reaching the sources are at most this long.
    static constexpr AVAudioFrameCount kDeviceBufferFrames = 512;
    static constexpr std::size_t kMaxSources = 8;

    // Main. Creates the mixer and output (mixer connected to output). Opens no device.
    AVAudioEngine();
    // Main. Stops if running (which joins the tap thread).
    ~AVAudioEngine();
    AVAudioEngine(const AVAudioEngine&) = delete;
    AVAudioEngine& operator=(const AVAudioEngine&) = delete;

    // Main, while stopped. Takes shared ownership; false for a null node, a node attached elsewhere,
    // or a running engine. Attaching a node twice is harmless.
    bool attachNode(std::shared_ptr<AVAudioNode> node);
    // Main, while stopped. Source node → main mixer only, in the source's own format (or none =
    // the source's). False when the nodes are not attached here, the format differs from the
    // source's, the rate differs from the mixer's, kMaxSources are already connected, or the
    // engine runs. Connecting the same source again is harmless.
    bool connect(AVAudioNode& from, AVAudioNode& to, const AVAudioFormatPtr& format);

    // Main.
    AVAudioMixerNode& mainMixerNode() { return *_mixer; }
    AVAudioOutputNode& outputNode() { return *_output; }
    const std::vector<std::shared_ptr<AVAudioNode>>& attachedNodes() const { return _attached; }

    // Main. Opens the default device (as chosen by SDL; SDL_AUDIODRIVER picks the driver) and starts
    // rendering. Success when running (also when it already was). On failure nothing is left open,
    // the error describes why, and start may be retried.
    NSErrorOrSuccess startAndReturnError();
    // Main. Ends rendering, closes the device, delivers the tap's remaining whole buffers and joins
    // its thread. Does nothing when stopped.
    void stop();
    // Main.
    bool isRunning() const { return _runtime != nullptr; }
    // Main. While running: an error once SDL reports that the device stopped on its own (unplugged,
    // or the driver could not write); nothing renders any more, yet the engine counts as running
    // until stop(). Success otherwise, and while stopped.
    NSErrorOrSuccess deviceErrorIfStopped() const;

    // Main. Tap frames the real-time side could not hand over because the tap thread fell behind,
    // since construction.
    std::uint64_t droppedTapFrames() const;

    struct Runtime; // what the real-time side and the tap thread share while running

private:
    friend class AVAudioMixerNode;
    std::shared_ptr<AVAudioMixerNode> _mixer;
    std::shared_ptr<AVAudioOutputNode> _output;
    std::vector<std::shared_ptr<AVAudioNode>> _attached;
    std::vector<AVAudioSourceNode*> _connections;
    std::optional<double> _mixerRate;
    std::uint64_t _droppedTapFramesBeforeThisRun = 0;
    std::unique_ptr<Runtime> _runtime; // present exactly while running
};
