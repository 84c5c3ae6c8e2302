#include "quolva/audio_file.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include <sndfile.h>

namespace quolva::host {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

} // namespace

bool parseSampleFormat(const std::string& text, SampleFormat& format)
{
    if (text == "float32" || text == "float")
        format = SampleFormat::Float32;
    else if (text == "pcm24")
        format = SampleFormat::Pcm24;
    else if (text == "pcm16")
        format = SampleFormat::Pcm16;
    else
        return false;
    return true;
}

bool readAudioFile(const std::string& path, AudioBuffer& out, std::string& error)
{
    SF_INFO info{};
    SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        error = path + " has " + std::to_string(info.channels)
                + " channels; only mono and stereo files can be read";
        return false;
    }
    const size_t channels = size_t(info.channels);
    out.sampleRate = info.samplerate;
    out.left.clear();
    out.right.clear();
    if (info.frames > 0) {
        out.left.reserve(size_t(info.frames));
        out.right.reserve(size_t(info.frames));
    }

    std::vector<float> block(4096 * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), block.data(), 4096);
        if (got <= 0)
            break;
        for (sf_count_t i = 0; i < got; ++i) {
            const float l = block[size_t(i) * channels];
            out.left.push_back(l);
            out.right.push_back(channels == 2 ? block[size_t(i) * channels + 1] : l);
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = "error while reading " + path + ": " + sf_strerror(file.get());
        return false;
    }
    return true;
}

bool writeWavFile(const std::string& path, const AudioBuffer& in, SampleFormat format, std::string& error)
{
    if (in.left.size() != in.right.size()) {
        error = "cannot write " + path + ": channels differ in length";
        return false;
    }
    const double rate = std::round(in.sampleRate);
    if (!(rate >= 1.0) || rate != in.sampleRate || rate > 2147483647.0) {
        error = "cannot write " + path + ": a WAV file needs a whole-number sample rate";
        return false;
    }

    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = 2;
    switch (format) {
    case SampleFormat::Float32: info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT; break;
    case SampleFormat::Pcm24: info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24; break;
    case SampleFormat::Pcm16: info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16; break;
    }
    SndfilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (format == SampleFormat::Float32)
        sf_command(file.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE); // it carries a time stamp
    else
        sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    const size_t total = in.frames();
    std::vector<float> block(2 * 4096);
    for (size_t pos = 0; pos < total; pos += 4096) {
        const size_t n = std::min<size_t>(4096, total - pos);
        for (size_t i = 0; i < n; ++i) {
            block[2 * i] = in.left[pos + i];
            block[2 * i + 1] = in.right[pos + i];
        }
        if (sf_writef_float(file.get(), block.data(), sf_count_t(n)) != sf_count_t(n)) {
            error = "error while writing " + path + ": " + sf_strerror(file.get());
            return false;
        }
    }
    if (sf_close(file.release()) != 0) {
        error = "error while closing " + path;
        return false;
    }
    return true;
}

} // namespace quolva::host
