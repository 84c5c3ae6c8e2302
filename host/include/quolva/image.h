#pragma once

// An 8-bit RGBA picture (for example a screenshot of an editor) and a PNG writer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quolva::host {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Rgba& o) const { return !(*this == o); }
};

struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba; // rows top to bottom, four bytes per pixel

    bool empty() const { return width == 0 || height == 0; }
    // The pixel at (x, y); a transparent black pixel outside the picture.
    Rgba at(int64_t x, int64_t y) const
    {
        if (x < 0 || y < 0 || x >= int64_t(width) || y >= int64_t(height))
            return {};
        const uint8_t* p = &rgba[(size_t(y) * width + size_t(x)) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
};

#ifdef QUOLVA_HOST_HAS_PNG
// Writes `image` as an 8-bit RGBA PNG file; false with a reason in `error`.
bool writePng(const std::string& path, const Image& image, std::string& error);
#endif

} // namespace quolva::host
