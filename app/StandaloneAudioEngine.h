// The demo app's audio back end: the riff, through the effect, to the default output.
//
// Owns one DSPBridge, one BassRiffGenerator, the platform audio engine and its own parameter tree
// (which the control surface drives through ThraskVellParameterSource, as in the plug-in). A source
// node renders the riff into both channels and runs the bridge on the block in place; the main mixer
// takes it to the output; a tap on the mixer publishes a decimated snapshot of channel 0 as
// `waveform`.
//
// Ownership: one per window, held by shared pointer (the view model keeps its source strongly). The
// source node's callback holds the generator and the bridge itself; the tree's blocks and the tap
// hold the engine weakly, so they do nothing once it is gone.
//
// Threads:
//  - create, start, stop, destruction and every read or change of isPlaying / waveform: main (the
//    thread of the MainThreadQueue given to create).
//  - the source node's callback: the real-time thread; no allocation, lock, system call or exception.
//  - the tap: the platform's tap thread; it builds the snapshot there and posts it to the main
//    thread without waiting.
//  - parameter reads and writes through the tree: any thread (the bridge's slots are atomic).
#pragma once

#include "app/BassRiffGenerator.h"
#include "dsp/DSPBridge.h"
#include "parameters/ThraskVellParameterSource.h"
#include "platform/AUParameterTree.h"
#include "platform/AVAudioEngine.h"
#include "platform/MainThreadQueue.h"
#include "platform/Observable.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace thraskvell {

class StandaloneAudioEngine final : public ObservableObject,
                                    public ThraskVellParameterSource,
                                    public std::enable_shared_from_this<StandaloneAudioEngine> {
public:
    static constexpr int kMaxFramesPerBlock = 4096;
    static constexpr double kSampleRate = 44100.0;
    static constexpr int kChannelCount = 2;
    static constexpr AVAudioFrameCount kTapBufferFrames = 1024;
    static constexpr std::size_t kWaveformPoints = 256;

    // Main. Bridge, generator, platform engine, then the tree and the graph (which need the engine's
    // weak self, hence a factory rather than a bare constructor). Does not start playing.
    static std::shared_ptr<StandaloneAudioEngine>
    create(MainThreadQueue& mainQueue = MainThreadQueue::main());

    // Main. Releases everything; the window has already called stop().
    ~StandaloneAudioEngine() override;

    // Main. Prepares the bridge (4096 frames, 44100 Hz, 2 channels) and starts the platform engine.
    // On failure prints "Engine start error: <description>" to standard output and stays stopped;
    // may be retried. Does nothing while playing. Throws std::logic_error off the main thread.
    void start();
    // Main. Does nothing while stopped. The riff resumes where it stopped on the next start. Throws
    // std::logic_error off the main thread.
    void stop();
    // Main. While playing, if the device stopped on its own (unplugged, a failed write), stops and
    // prints "Engine error: <description>" to standard output; otherwise does nothing. The window
    // calls it every frame. Throws std::logic_error off the main thread.
    void checkDevice();

    // Main.
    bool isPlaying() const { return _isPlaying.get(); }
    const std::vector<float>& waveform() const { return _waveform.get(); }

    // Any.
    std::shared_ptr<AUParameterTree> parameterTree() const override { return _parameterTree; }
    DSPBridge& dspBridge() const { return *_dspBridge; }

    // Main; for the shell and tests.
    AVAudioEngine& audioEngine() { return *_engine; }

    // Any. The tap's display snapshot of n samples: every (n / 256)-th sample (every one below 256
    // samples), from frame 0 while below n. 1024 → 256 values, 300 → 300, 4800 → 267, 0 → none.
    static std::vector<float> decimateForDisplay(const float* samples, std::size_t n);

private:
    struct Token {};

public:
    // Use create(); public only for make_shared.
    StandaloneAudioEngine(Token, MainThreadQueue& mainQueue);

private:
    void setupParameterTree();
    void setupAudioGraph();

    std::shared_ptr<DSPBridge> _dspBridge;
    std::shared_ptr<BassRiffGenerator> _riffGenerator;
    std::unique_ptr<AVAudioEngine> _engine;
    std::shared_ptr<AUParameterTree> _parameterTree;
    Published<bool> _isPlaying;
    Published<std::vector<float>> _waveform;
};

} // namespace thraskvell
