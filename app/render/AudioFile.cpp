#include "app/render/AudioFile.h"
#include "app/render/TemporaryFile.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace thraskvell::render {

namespace fs = std::filesystem;

namespace {

// Built by appending: GCC 12 misreports "literal" + std::string under -Wrestrict.
std::string quoted(const fs::path& path) {
    std::string text(1, '\'');
    text.append(path.string()).push_back('\'');
    return text;
}

std::string lowerExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

int majorFormatFor(const std::string& ext) {
    // Written as plain WAV until the data outgrows WAV's 32-bit sizes (SFC_RF64_AUTO_DOWNGRADE).
    if (ext.empty() || ext == "wav") return SF_FORMAT_RF64;
    // Common spellings libsndfile's own table lists differently.
    if (ext == "aif" || ext == "aifc") return SF_FORMAT_AIFF;
    if (ext == "ogg" || ext == "opus") return SF_FORMAT_OGG;
    if (ext == "snd") return SF_FORMAT_AU;

    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info)) == 0 && info.extension &&
            ext == info.extension)
            return info.format;
    }
    return 0;
}

} // namespace

bool writableExtension(const fs::path& destination) {
    return majorFormatFor(lowerExtension(destination)) != 0;
}

int outputFormatFor(const fs::path& destination, int sampleRate, int channels) {
    const std::string ext = lowerExtension(destination);
    const int major = majorFormatFor(ext);
    if (major == 0)
        throw AudioFileError("cannot write " + quoted(destination) + ": unknown file type '." + ext + "'");

    // Float keeps the effect's output exactly; formats without it get the finest they offer.
    std::array<int, 6> subtypes{SF_FORMAT_FLOAT,  SF_FORMAT_PCM_24, SF_FORMAT_PCM_16,
                                SF_FORMAT_VORBIS, SF_FORMAT_OPUS,   SF_FORMAT_MPEG_LAYER_III};
    if (ext == "opus") subtypes = {SF_FORMAT_OPUS, 0, 0, 0, 0, 0};
    for (int subtype : subtypes) {
        if (subtype == 0) continue;
        SF_INFO info{};
        info.samplerate = sampleRate;
        info.channels = channels;
        info.format = major | subtype;
        if (sf_format_check(&info)) return info.format;
    }
    throw AudioFileError("cannot write " + quoted(destination) +
                         ": libsndfile offers no suitable encoding for '." + ext + "' files");
}

fs::path resolvedDestination(const fs::path& destination) {
    std::error_code ec;
    if (!fs::is_symlink(destination, ec)) return destination;
    const fs::path target = fs::weakly_canonical(destination, ec);
    return ec ? destination : target;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

AudioFileReader::AudioFileReader(const fs::path& path) : path_(path) {
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (!file_) throw AudioFileError("cannot read " + quoted(path) + ": " + sf_strerror(nullptr));
    sampleRate_ = info.samplerate;
    channels_ = info.channels;
    // libsndfile reports SF_COUNT_MAX for streams whose length it cannot know.
    frames_ = info.frames == SF_COUNT_MAX ? 0 : static_cast<std::int64_t>(info.frames);
    if (sampleRate_ <= 0 || channels_ <= 0) {
        sf_close(file_);
        file_ = nullptr;
        throw AudioFileError("cannot read " + quoted(path) + ": it reports no sample rate or no channels");
    }
}

AudioFileReader::~AudioFileReader() {
    if (file_) sf_close(file_);
}

std::int64_t AudioFileReader::read(float* interleaved, std::int64_t frames) {
    const sf_count_t got = sf_readf_float(file_, interleaved, static_cast<sf_count_t>(frames));
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR)
        throw AudioFileError("cannot read " + quoted(path_) + ": " + sf_strerror(file_));
    done_ += got;
    if (got < frames && done_ < frames_)
        throw AudioFileError("cannot read " + quoted(path_) + ": it ended after " + std::to_string(done_) +
                             " of " + std::to_string(frames_) + " frames");
    return static_cast<std::int64_t>(got);
}

AudioFileWriter::AudioFileWriter(const fs::path& destination, int sampleRate, int channels)
    : destination_(resolvedDestination(destination)) {
    const int format = outputFormatFor(destination, sampleRate, channels);

    const TemporaryFile temporary = createTemporaryBeside(destination_);
    if (temporary.descriptor < 0)
        throw AudioFileError("cannot write " + quoted(destination) + ": " + std::strerror(errno));
    temporary_ = temporary.path;
    const int fd = temporary.descriptor;

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!file_) {
        const std::string reason = sf_strerror(nullptr);
        // A failed sf_open_fd has already closed the descriptor it was told to own.
        discardTemporary(temporary_);
        throw AudioFileError("cannot write " + quoted(destination) + ": " + reason);
    }
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64)
        sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    // Integer formats would wrap round on overs; clip them instead.
    if ((format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT)
        sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioFileWriter::~AudioFileWriter() {
    if (file_) sf_close(file_);
    if (!committed_ && !temporary_.empty()) discardTemporary(temporary_);
}

void AudioFileWriter::write(const float* interleaved, std::int64_t frames) {
    const sf_count_t written = sf_writef_float(file_, interleaved, static_cast<sf_count_t>(frames));
    if (written != frames)
        throw AudioFileError("cannot write " + quoted(destination_) + ": " + sf_strerror(file_));
}

void AudioFileWriter::commit(bool last) {
    sf_write_sync(file_);
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0)
        throw AudioFileError("cannot finish " + quoted(destination_) + ": " + sf_error_number(closed));
    if (!commitTemporary(temporary_, destination_, last))
        throw AudioFileError("cannot write " + quoted(destination_) + ": " + std::strerror(errno));
    committed_ = true;
}

} // namespace thraskvell::render
