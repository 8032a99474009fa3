#include "platform/AVAudioEngine.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

// ---- formats and buffers ----

bool AVAudioFormatsMatch(const AVAudioFormat* a, const AVAudioFormat* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return a->commonFormat() == b->commonFormat() && a->sampleRate() == b->sampleRate() &&
           a->channelCount() == b->channelCount() && a->isInterleaved() == b->isInterleaved();
}

AVAudioPCMBuffer::AVAudioPCMBuffer(AVAudioFormatPtr format, AVAudioFrameCount frameCapacity)
    : _format(std::move(format)), _frameCapacity(frameCapacity) {
    if (!_format || !_format->isStandard())
        throw std::invalid_argument(
            "AVAudioPCMBuffer: the format must be standard (float32, non-interleaved)");
    const AVAudioChannelCount channels = _format->channelCount();
    _storage.assign(static_cast<std::size_t>(channels) * frameCapacity, 0.0f);
    _channelPointers.resize(channels);
    for (AVAudioChannelCount c = 0; c < channels; ++c)
        _channelPointers[c] = _storage.data() + static_cast<std::size_t>(c) * frameCapacity;
}

void AVAudioPCMBuffer::setFrameLength(AVAudioFrameCount length) {
    _frameLength = std::min(length, _frameCapacity);
}

AVAudioSourceNode::AVAudioSourceNode(AVAudioFormatPtr format, AVAudioSourceNodeRenderBlock renderBlock)
    : _format(std::move(format)), _renderBlock(std::move(renderBlock)) {
    if (!_format || !_format->isStandard() || _format->channelCount() > kAudioBufferListCapacity)
        throw std::invalid_argument("AVAudioSourceNode: the format must be standard with at most " +
                                    std::to_string(kAudioBufferListCapacity) + " channels");
}

// ---- runtime shared with the real-time and tap threads ----

namespace {

constexpr AVAudioChannelCount kMixerChannels = 2;
constexpr double kDefaultMixerRate = 44100.0;

// Single producer (real-time), single consumer (tap thread); non-interleaved frames.
class TapRing {
public:
    TapRing(AVAudioChannelCount channels, std::size_t minimumFrames)
        : _channels(channels), _capacity(std::bit_ceil(minimumFrames)), _storage(channels * _capacity, 0.0f) {
    }

    // Real-time. All frames or none: a partial block would splice unrelated audio together.
    bool write(const float* const* channels, std::size_t frames) noexcept {
        const std::uint64_t w = _write.load(std::memory_order_relaxed);
        const std::uint64_t r = _read.load(std::memory_order_acquire);
        if (_capacity - (w - r) < frames) return false;
        for (AVAudioChannelCount c = 0; c < _channels; ++c)
            copyIn(channels[c], c, w, frames);
        _write.store(w + frames, std::memory_order_release);
        return true;
    }

    // Tap thread.
    std::size_t available() const noexcept {
        return static_cast<std::size_t>(_write.load(std::memory_order_acquire) -
                                        _read.load(std::memory_order_relaxed));
    }
    void read(float* const* channels, std::size_t frames) noexcept {
        const std::uint64_t r = _read.load(std::memory_order_relaxed);
        for (AVAudioChannelCount c = 0; c < _channels; ++c) {
            const float* base = _storage.data() + c * _capacity;
            const std::size_t start = static_cast<std::size_t>(r & (_capacity - 1));
            const std::size_t first = std::min(frames, _capacity - start);
            std::memcpy(channels[c], base + start, first * sizeof(float));
            std::memcpy(channels[c] + first, base, (frames - first) * sizeof(float));
        }
        _read.store(r + frames, std::memory_order_release);
    }

private:
    void copyIn(const float* source, AVAudioChannelCount c, std::uint64_t w, std::size_t frames) noexcept {
        float* base = _storage.data() + c * _capacity;
        const std::size_t start = static_cast<std::size_t>(w & (_capacity - 1));
        const std::size_t first = std::min(frames, _capacity - start);
        std::memcpy(base + start, source, first * sizeof(float));
        std::memcpy(base, source + first, (frames - first) * sizeof(float));
    }

    AVAudioChannelCount _channels;
    std::size_t _capacity;
    std::vector<float> _storage;
    std::atomic<std::uint64_t> _write{0};
    std::atomic<std::uint64_t> _read{0};
};

} // namespace

struct AVAudioEngine::Runtime {
    Runtime(AVAudioFormatPtr mixerFormat, const std::vector<AVAudioSourceNode*>& sources, float volume,
            AVAudioFrameCount tapBufferSize, AVAudioNodeTapBlock tapBlock)
        : format(std::move(mixerFormat)), sources(sources), volume(volume), tapBufferSize(tapBufferSize),
          tapBlock(std::move(tapBlock)) {
        for (auto& channel : mix)
            channel.assign(kDeviceBufferFrames, 0.0f);
        for (const AVAudioSourceNode* source : sources)
            scratch.emplace_back(
                static_cast<std::size_t>(source->format()->channelCount()) * kDeviceBufferFrames, 0.0f);
        if (this->tapBlock) {
            // Room for a second of audio or eight tap buffers, whichever is more: the tap thread
            // polls, so it must be able to sleep a little without the real-time side dropping.
            const auto rate = static_cast<std::size_t>(format->sampleRate());
            tapRing.emplace(kMixerChannels, std::max<std::size_t>(rate, std::size_t{tapBufferSize} * 8));
        }
    }

    // Real-time: one block of at most kDeviceBufferFrames into `mix`, then into the tap's ring.
    void renderBlock(AVAudioFrameCount frames) noexcept {
        bool anyContribution = false;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const AVAudioSourceNode& source = *sources[i];
            const AVAudioChannelCount channels = source.format()->channelCount();
            AudioBufferList list;
            list.mNumberBuffers = channels;
            for (AVAudioChannelCount c = 0; c < channels; ++c) {
                list.mBuffers[c].mNumberChannels = 1;
                list.mBuffers[c].mDataByteSize = frames * static_cast<std::uint32_t>(sizeof(float));
                list.mBuffers[c].mData =
                    scratch[i].data() + static_cast<std::size_t>(c) * kDeviceBufferFrames;
            }
            AudioTimeStamp timestamp;
            timestamp.mSampleTime = static_cast<double>(sampleTime);
            bool isSilence = false;
            const auto& render = source.renderBlock();
            if (!render || render(&isSilence, &timestamp, frames, &list) != noErr || isSilence) continue;

            for (AVAudioChannelCount out = 0; out < kMixerChannels; ++out) {
                // A mono source feeds both sides; extra source channels are not mixed.
                const AVAudioChannelCount in = channels == 1 ? 0 : out;
                if (in >= channels || in >= list.mNumberBuffers || list.mBuffers[in].mData == nullptr)
                    continue;
                const float* src = list.mBuffers[in].mData;
                float* dst = mix[out].data();
                // The first source is copied, not added to zero, so a lone source passes bit for bit.
                if (!anyContribution)
                    std::memcpy(dst, src, frames * sizeof(float));
                else
                    for (AVAudioFrameCount f = 0; f < frames; ++f)
                        dst[f] += src[f];
            }
            anyContribution = true;
        }
        if (!anyContribution)
            for (auto& channel : mix)
                std::fill_n(channel.data(), frames, 0.0f);
        if (volume != 1.0f)
            for (auto& channel : mix)
                for (AVAudioFrameCount f = 0; f < frames; ++f)
                    channel[f] *= volume;

        if (tapRing) {
            const float* channels[kMixerChannels] = {mix[0].data(), mix[1].data()};
            if (!tapRing->write(channels, frames))
                droppedTapFrames.fetch_add(frames, std::memory_order_relaxed);
        }
        sampleTime += frames;
    }

    // Real-time: SDL's device callback.
    void renderInterleaved(float* out, AVAudioFrameCount frames) noexcept {
        while (frames > 0) {
            const AVAudioFrameCount block = std::min(frames, kDeviceBufferFrames);
            renderBlock(block);
            for (AVAudioFrameCount f = 0; f < block; ++f)
                for (AVAudioChannelCount c = 0; c < kMixerChannels; ++c)
                    *out++ = mix[c][f];
            frames -= block;
        }
    }

    // Tap thread: whole buffers only; after a stop request, what is left, then exit.
    void runTap() {
        const double seconds = static_cast<double>(tapBufferSize) / format->sampleRate() / 4.0;
        const auto poll =
            std::chrono::microseconds(std::clamp<long>(static_cast<long>(seconds * 1e6), 1000, 5000));
        AVAudioFramePosition delivered = 0;
        for (;;) {
            const bool stopping = tapStop.load(std::memory_order_acquire);
            while (tapRing->available() >= tapBufferSize) {
                auto buffer = std::make_shared<AVAudioPCMBuffer>(format, tapBufferSize);
                tapRing->read(buffer->floatChannelData(), tapBufferSize);
                buffer->setFrameLength(tapBufferSize);
                const AVAudioTime when{delivered, format->sampleRate()};
                delivered += tapBufferSize;
                try {
                    tapBlock(std::move(buffer), when);
                } catch (...) {
                    // A throwing tap must not take the engine's thread (and the process) down.
                }
            }
            if (stopping) return;
            std::this_thread::sleep_for(poll);
        }
    }

    static void SDLCALL deviceCallback(void* userdata, Uint8* stream, int length) {
        auto* self = static_cast<Runtime*>(userdata);
        const auto frames =
            static_cast<AVAudioFrameCount>(length / static_cast<int>(sizeof(float) * kMixerChannels));
        self->renderInterleaved(reinterpret_cast<float*>(stream), frames);
    }

    AVAudioFormatPtr format;
    std::vector<AVAudioSourceNode*> sources;
    float volume;
    std::vector<std::vector<float>> scratch;
    std::array<std::vector<float>, kMixerChannels> mix;
    std::uint64_t sampleTime = 0; // real-time thread only

    AVAudioFrameCount tapBufferSize;
    AVAudioNodeTapBlock tapBlock;
    std::optional<TapRing> tapRing;
    std::atomic<bool> tapStop{false};
    std::atomic<std::uint64_t> droppedTapFrames{0};
    std::thread tapThread;

    SDL_AudioDeviceID device = 0;
    bool sdlInitialised = false;
};

// ---- mixer ----

bool AVAudioMixerNode::installTapOnBus(AVAudioNodeBus bus, AVAudioFrameCount bufferSize,
                                       const AVAudioFormatPtr& format, AVAudioNodeTapBlock block) {
    if (bus != 0 || bufferSize == 0 || bufferSize > kMaxTapBufferFrames || !block || _tapBlock) return false;
    if (engine() != nullptr && engine()->isRunning()) return false;
    if (format && !AVAudioFormatsMatch(format.get(), outputFormatForBus(0).get())) return false;
    _tapBufferSize = bufferSize;
    _tapBlock = std::move(block);
    return true;
}

bool AVAudioMixerNode::removeTapOnBus(AVAudioNodeBus bus) {
    if (bus != 0 || !_tapBlock) return false;
    if (engine() != nullptr && engine()->isRunning()) return false;
    _tapBlock = nullptr;
    _tapBufferSize = 0;
    return true;
}

AVAudioFormatPtr AVAudioMixerNode::outputFormatForBus(AVAudioNodeBus) const {
    double rate = kDefaultMixerRate;
    if (engine() != nullptr && engine()->_mixerRate) rate = *engine()->_mixerRate;
    return AVAudioFormat::makeStandard(rate, kMixerChannels);
}

// ---- engine ----

AVAudioEngine::AVAudioEngine() : _mixer(new AVAudioMixerNode()), _output(new AVAudioOutputNode()) {
    _mixer->_engine = this;
    _output->_engine = this;
}

AVAudioEngine::~AVAudioEngine() {
    stop();
    for (auto& node : _attached)
        node->_engine = nullptr;
    _mixer->_engine = nullptr;
    _output->_engine = nullptr;
}

bool AVAudioEngine::attachNode(std::shared_ptr<AVAudioNode> node) {
    if (!node || isRunning()) return false;
    if (node->_engine == this) return true;
    if (node->_engine != nullptr) return false;
    node->_engine = this;
    _attached.push_back(std::move(node));
    return true;
}

bool AVAudioEngine::connect(AVAudioNode& from, AVAudioNode& to, const AVAudioFormatPtr& format) {
    if (isRunning() || &to != _mixer.get() || from._engine != this) return false;
    auto* source = dynamic_cast<AVAudioSourceNode*>(&from);
    if (source == nullptr) return false;
    if (format && !AVAudioFormatsMatch(format.get(), source->format().get())) return false;
    if (std::find(_connections.begin(), _connections.end(), source) != _connections.end()) return true;
    if (_mixerRate && *_mixerRate != source->format()->sampleRate()) return false;
    if (_connections.size() >= kMaxSources) return false;
    _mixerRate = source->format()->sampleRate();
    _connections.push_back(source);
    return true;
}

NSErrorOrSuccess AVAudioEngine::startAndReturnError() {
    if (isRunning()) return std::nullopt;
    auto fail = [](std::int64_t code, const std::string& what) {
        return NSError{AVAudioEngineErrorDomain, code, what + ": " + SDL_GetError()};
    };

    auto runtime =
        std::make_unique<Runtime>(_mixer->outputFormatForBus(0), _connections, _mixer->outputVolume(),
                                  _mixer->_tapBufferSize, _mixer->_tapBlock);

    // Initialised per run so that the driver (SDL_AUDIODRIVER) is chosen afresh on every start.
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return fail(-1, "The audio system is unavailable");
    runtime->sdlInitialised = true;

    SDL_AudioSpec want{};
    want.freq = static_cast<int>(std::lround(runtime->format->sampleRate()));
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(kMixerChannels);
    want.samples = static_cast<Uint16>(kDeviceBufferFrames);
    want.callback = &Runtime::deviceCallback;
    want.userdata = runtime.get();
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the device runs at.
    runtime->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (runtime->device == 0) {
        NSError error = fail(-2, "The audio output could not be opened");
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return error;
    }

    // Unpaused at once: until then SDL plays silence. The ring holds what renders before the tap
    // thread runs.
    SDL_PauseAudioDevice(runtime->device, 0);
    if (runtime->tapRing) {
        try {
            runtime->tapThread = std::thread([r = runtime.get()] { r->runTap(); });
        } catch (const std::system_error& e) {
            SDL_CloseAudioDevice(runtime->device);
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return NSError{AVAudioEngineErrorDomain, -3,
                           std::string("The tap thread could not start: ") + e.what()};
        }
    }
    _runtime = std::move(runtime);
    return std::nullopt;
}

void AVAudioEngine::stop() {
    if (!_runtime) return;
    // Closing waits for SDL's audio thread, so nothing renders once it returns.
    SDL_CloseAudioDevice(_runtime->device);
    _runtime->tapStop.store(true, std::memory_order_release);
    if (_runtime->tapThread.joinable()) _runtime->tapThread.join();
    _droppedTapFramesBeforeThisRun += _runtime->droppedTapFrames.load(std::memory_order_relaxed);
    _runtime.reset();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

NSErrorOrSuccess AVAudioEngine::deviceErrorIfStopped() const {
    // Reads SDL's atomic flags only: SDL marks a lost device disabled and stops calling back.
    if (!_runtime || SDL_GetAudioDeviceStatus(_runtime->device) != SDL_AUDIO_STOPPED) return std::nullopt;
    return NSError{AVAudioEngineErrorDomain, -4,
                   "The audio output stopped: the device was disconnected or could not be written"};
}

std::uint64_t AVAudioEngine::droppedTapFrames() const {
    return _droppedTapFramesBeforeThisRun +
           (_runtime ? _runtime->droppedTapFrames.load(std::memory_order_relaxed) : std::uint64_t{0});
}
