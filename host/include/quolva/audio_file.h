#pragma once

// Reading and writing sound files (libsndfile). Kept apart from the rest of the
// library so builds without libsndfile can leave it out.

#include <string>

#include "quolva/audio_buffer.h"

namespace quolva::host {

enum class SampleFormat { Float32, Pcm24, Pcm16 };

// "float32", "pcm24", "pcm16"; false for anything else.
bool parseSampleFormat(const std::string& text, SampleFormat& format);

// Reads any format libsndfile knows (WAV, AIFF, FLAC, ...) as float in [-1, 1];
// mono is duplicated to both channels; more than two channels is an error.
bool readAudioFile(const std::string& path, AudioBuffer& out, std::string& error);

// Writes a stereo WAV file at `in.sampleRate` (which must be a whole number).
// Float files carry no PEAK chunk, so equal audio gives byte-identical files.
// Integer formats clip instead of wrapping.
bool writeWavFile(const std::string& path, const AudioBuffer& in, SampleFormat format,
                  std::string& error);

} // namespace quolva::host
