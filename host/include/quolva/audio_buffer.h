#pragma once

#include <cstddef>
#include <vector>

namespace quolva::host {

// Non-interleaved stereo audio.
struct AudioBuffer {
    double sampleRate = 0.0;
    std::vector<float> left;
    std::vector<float> right;

    size_t frames() const { return left.size(); }
    void resize(size_t frames)
    {
        left.resize(frames);
        right.resize(frames);
    }
};

} // namespace quolva::host
