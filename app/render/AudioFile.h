// Audio files for thraskvell-render, through libsndfile.
//
// The reader opens anything libsndfile reads and hands out interleaved float frames; a file that ends
// before the frame count its header gave is an error. The writer never writes the destination
// directly: it fills a temporary file in the directory of the file the destination resolves to and
// renames it into place on commit(), so a render that fails or is interrupted leaves no half-written
// output, an existing file is replaced only by a complete one with its permission bits, and a
// symbolic link stays a link to the new audio.
//
// Failures throw AudioFileError with a message meant for the user. Threads: main only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>

struct sf_private_tag;

namespace thraskvell::render {

class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AudioFileReader {
public:
    explicit AudioFileReader(const std::filesystem::path& path);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // As the file header says; a stream of unknown length reports 0.
    std::int64_t frames() const { return frames_; }

    // Up to `frames` interleaved frames into `interleaved`; returns how many were read, 0 at the end.
    std::int64_t read(float* interleaved, std::int64_t frames);

private:
    std::filesystem::path path_;
    sf_private_tag* file_ = nullptr;
    int sampleRate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t done_ = 0;
};

class AudioFileWriter {
public:
    // Creates the temporary file. The format follows the destination's extension (32-bit float WAV
    // for .wav or no extension, as RF64 once it outgrows 4 GiB; the best libsndfile offers otherwise).
    AudioFileWriter(const std::filesystem::path& destination, int sampleRate, int channels);
    // Removes the temporary file unless commit() succeeded.
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    void write(const float* interleaved, std::int64_t frames);
    // Finishes the file and moves it to the destination; `last` as for commitTemporary.
    void commit(bool last = true);

    const std::filesystem::path& temporaryPath() const { return temporary_; }

private:
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    sf_private_tag* file_ = nullptr;
    bool committed_ = false;
};

// Whether the destination's extension names a type libsndfile can write (no extension means WAV).
bool writableExtension(const std::filesystem::path& destination);

// Where a destination's bytes go: the final target of a symbolic link, else the destination itself.
std::filesystem::path resolvedDestination(const std::filesystem::path& destination);

// libsndfile format code for a destination, by its extension; throws for an extension libsndfile
// cannot write.
int outputFormatFor(const std::filesystem::path& destination, int sampleRate, int channels);

// True when both paths name the same existing file (hard links and symbolic links included).
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace thraskvell::render
