#include "app/StandaloneAudioEngine.h"

#include "parameters/ThraskVellParameterTree.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace thraskvell {

std::shared_ptr<StandaloneAudioEngine> StandaloneAudioEngine::create(MainThreadQueue& mainQueue) {
    auto engine = std::make_shared<StandaloneAudioEngine>(Token{}, mainQueue);
    engine->setupParameterTree();
    engine->setupAudioGraph();
    return engine;
}

StandaloneAudioEngine::StandaloneAudioEngine(Token, MainThreadQueue& mainQueue)
    : ObservableObject(mainQueue), _dspBridge(std::make_shared<DSPBridge>()),
      _riffGenerator(std::make_shared<BassRiffGenerator>()), _engine(std::make_unique<AVAudioEngine>()),
      _isPlaying(*this, false), _waveform(*this, std::vector<float>(kWaveformPoints, 0.0f)) {}

// The platform engine goes first (members die in reverse order), which ends rendering and joins the
// tap thread before anything they use is released.
StandaloneAudioEngine::~StandaloneAudioEngine() = default;

void StandaloneAudioEngine::setupParameterTree() {
    // The same tree as the plug-in's: identifiers, names, ranges and defaults from the one table,
    // set before the tree is wired, so the bridge (which starts from the same defaults) hears nothing.
    auto tree = makeThraskVellParameterTree();
    if (!tree) throw std::runtime_error("StandaloneAudioEngine: the platform refused the parameter tree");
    connectParameterTree(*tree, weak_from_this());
    _parameterTree = std::move(tree);
}

void StandaloneAudioEngine::setupAudioGraph() {
    auto format = AVAudioFormat::makeStandard(kSampleRate, kChannelCount);

    // Holds the generator and the bridge, not the engine: rendering never depends on the engine's
    // lifetime, and the graph is stopped before either is released.
    auto render = [generator = _riffGenerator,
                   bridge = _dspBridge](bool*, const AudioTimeStamp*, AVAudioFrameCount frameCount,
                                        AudioBufferList* outputData) noexcept -> OSStatus {
        float* left = outputData != nullptr && outputData->mNumberBuffers >= 1 ? outputData->mBuffers[0].mData
                                                                               : nullptr;
        float* right = outputData != nullptr && outputData->mNumberBuffers >= 2
                           ? outputData->mBuffers[1].mData
                           : nullptr;
        for (AVAudioFrameCount frame = 0; frame < frameCount; ++frame) {
            const float sample = generator->nextSample();
            if (left != nullptr) left[frame] = sample;
            if (right != nullptr) right[frame] = sample;
        }
        if (outputData != nullptr) bridge->processBufferList(outputData, static_cast<int>(frameCount));
        return noErr;
    };
    auto sourceNode = std::make_shared<AVAudioSourceNode>(format, std::move(render));
    _engine->attachNode(sourceNode);
    if (!_engine->connect(*sourceNode, _engine->mainMixerNode(), format))
        throw std::logic_error("StandaloneAudioEngine: the source node could not be connected to the mixer");

    // Captures the queue and a weak engine, never a strong one: if the tap thread held the last
    // reference, the engine would be destroyed there and wait for that very thread.
    auto tap = [weak = weak_from_this(), &queue = mainQueue()](std::shared_ptr<AVAudioPCMBuffer> buffer,
                                                               const AVAudioTime&) {
        if (weak.expired() || !buffer) return;
        float* const* channels = buffer->floatChannelData();
        if (channels == nullptr || channels[0] == nullptr) return;
        auto snapshot = decimateForDisplay(channels[0], buffer->frameLength());
        queue.post([weak, snapshot = std::move(snapshot)]() mutable {
            if (auto self = weak.lock()) self->_waveform = std::move(snapshot);
        });
    };
    if (!_engine->mainMixerNode().installTapOnBus(0, kTapBufferFrames, nullptr, std::move(tap)))
        throw std::logic_error("StandaloneAudioEngine: the tap could not be installed");
}

void StandaloneAudioEngine::start() {
    objectWillChange().requireMainThread("start the audio engine");
    if (_isPlaying.get()) return;
    if (!_dspBridge->prepare(kMaxFramesPerBlock, kSampleRate, kChannelCount)) {
        std::printf("Engine start error: the effect could not be prepared\n");
        std::fflush(stdout);
        return;
    }
    if (const auto error = _engine->startAndReturnError()) {
        std::printf("Engine start error: %s\n", error->localizedDescription.c_str());
        std::fflush(stdout);
        return;
    }
    _isPlaying = true;
}

void StandaloneAudioEngine::stop() {
    objectWillChange().requireMainThread("stop the audio engine");
    if (!_isPlaying.get()) return;
    _engine->stop();
    _isPlaying = false;
}

void StandaloneAudioEngine::checkDevice() {
    objectWillChange().requireMainThread("check the audio device");
    if (!_isPlaying.get()) return;
    const auto error = _engine->deviceErrorIfStopped();
    if (!error) return;
    stop();
    std::printf("Engine error: %s\n", error->localizedDescription.c_str());
    std::fflush(stdout);
}

std::vector<float> StandaloneAudioEngine::decimateForDisplay(const float* samples, std::size_t n) {
    std::vector<float> snapshot;
    snapshot.reserve(kWaveformPoints);
    if (samples == nullptr) return snapshot;
    const std::size_t step = n < kWaveformPoints ? 1 : n / kWaveformPoints;
    for (std::size_t frame = 0; frame < n; frame += step)
        snapshot.push_back(samples[frame]);
    return snapshot;
}

} // namespace thraskvell
