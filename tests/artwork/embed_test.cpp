// The embedded artwork arrays must be byte for byte the PNG files they were
// generated from, be PNGs of the size the editors draw, and the Radeda digit
// tables must list digit k at entry k.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "RepeatArtwork.hpp"
#include "crush-artwork.hpp"
#include "repeat-artwork.hpp"

namespace {

struct Picture {
    const char* file;  // path below the artwork folders
    const unsigned char* data;
    unsigned int size;
    std::uint32_t width;
    std::uint32_t height;
};

void PrintTo(const Picture& p, std::ostream* os) { *os << p.file; }

#define REPEAT(name, sym, w, h) \
    Picture{QUOLVA_REPEAT_ARTWORK_DIR "/" name, QuolvaRepeatArt::k##sym##Data, \
            QuolvaRepeatArt::k##sym##DataSize, w, h}
#define CRUSH(name, sym, w, h) \
    Picture{QUOLVA_CRUSH_ARTWORK_DIR "/" name, QuolvaCrushArt::k##sym##Data, \
            QuolvaCrushArt::k##sym##DataSize, w, h}

const Picture kPictures[] = {
    REPEAT("background.png", Background, 800, 600),
    REPEAT("lamp.png", Lamp, 39, 39),
    REPEAT("switch_off.png", SwitchOff, 51, 56),
    REPEAT("switch_on.png", SwitchOn, 51, 56),
    REPEAT("digit0.png", Digit0, 36, 52),
    REPEAT("digit1.png", Digit1, 36, 52),
    REPEAT("digit2.png", Digit2, 36, 52),
    REPEAT("digit3.png", Digit3, 36, 52),
    REPEAT("digit4.png", Digit4, 36, 52),
    REPEAT("digit5.png", Digit5, 36, 52),
    REPEAT("digit6.png", Digit6, 36, 52),
    REPEAT("digit7.png", Digit7, 36, 52),
    REPEAT("digit8.png", Digit8, 36, 52),
    REPEAT("digit9.png", Digit9, 36, 52),
    CRUSH("background.png", Background, 800, 600),
    CRUSH("lit.png", Lit, 712, 37),
    CRUSH("title0.png", Title0, 313, 38),
    CRUSH("title1.png", Title1, 313, 38),
    CRUSH("title2.png", Title2, 313, 38),
    CRUSH("title3.png", Title3, 313, 38),
    CRUSH("title4.png", Title4, 313, 38),
    CRUSH("title5.png", Title5, 313, 38),
};

std::vector<unsigned char> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
           (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

class EmbeddedPicture : public ::testing::TestWithParam<Picture> {};

TEST_P(EmbeddedPicture, EqualsTheFileOnDisk) {
    const Picture& p = GetParam();
    const std::vector<unsigned char> file = readFile(p.file);
    ASSERT_FALSE(file.empty()) << "cannot read " << p.file;
    ASSERT_EQ(p.size, file.size());
    EXPECT_EQ(0, std::memcmp(p.data, file.data(), file.size()));
}

TEST_P(EmbeddedPicture, IsAnRgba8PngOfTheDrawnSize) {
    const Picture& p = GetParam();
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    ASSERT_GE(p.size, 33u);
    EXPECT_EQ(0, std::memcmp(p.data, kSignature, sizeof kSignature));
    // the first chunk is IHDR: length 13, then width, height, depth, colour type
    EXPECT_EQ(13u, bigEndian32(p.data + 8));
    EXPECT_EQ(0, std::memcmp(p.data + 12, "IHDR", 4));
    EXPECT_EQ(p.width, bigEndian32(p.data + 16));
    EXPECT_EQ(p.height, bigEndian32(p.data + 20));
    EXPECT_EQ(8, p.data[24]) << "bit depth";
    EXPECT_EQ(6, p.data[25]) << "colour type (6 = RGBA)";
}

INSTANTIATE_TEST_SUITE_P(Artwork, EmbeddedPicture, ::testing::ValuesIn(kPictures));

TEST(RepeatDigitTables, EntryKIsDigitK) {
    const unsigned char* const data[10] = {
        QuolvaRepeatArt::kDigit0Data, QuolvaRepeatArt::kDigit1Data, QuolvaRepeatArt::kDigit2Data,
        QuolvaRepeatArt::kDigit3Data, QuolvaRepeatArt::kDigit4Data, QuolvaRepeatArt::kDigit5Data,
        QuolvaRepeatArt::kDigit6Data, QuolvaRepeatArt::kDigit7Data, QuolvaRepeatArt::kDigit8Data,
        QuolvaRepeatArt::kDigit9Data};
    for (int k = 0; k < 10; ++k) {
        const std::string file =
            std::string(QUOLVA_REPEAT_ARTWORK_DIR "/digit") + std::to_string(k) + ".png";
        const std::vector<unsigned char> bytes = readFile(file.c_str());
        EXPECT_EQ(data[k], QuolvaRepeatArt::kDigitData[k]) << "digit " << k;
        ASSERT_EQ(bytes.size(), QuolvaRepeatArt::kDigitDataSize[k]) << "digit " << k;
        EXPECT_EQ(0, std::memcmp(QuolvaRepeatArt::kDigitData[k], bytes.data(), bytes.size()))
            << "digit " << k;
    }
}

TEST(RepeatDigitTables, AllTenDigitsDiffer) {
    for (int a = 0; a < 10; ++a) {
        for (int b = a + 1; b < 10; ++b) {
            const bool same = QuolvaRepeatArt::kDigitDataSize[a] == QuolvaRepeatArt::kDigitDataSize[b] &&
                              std::memcmp(QuolvaRepeatArt::kDigitData[a], QuolvaRepeatArt::kDigitData[b],
                                          QuolvaRepeatArt::kDigitDataSize[a]) == 0;
            EXPECT_FALSE(same) << "digits " << a << " and " << b << " are the same picture";
        }
    }
}

}  // namespace
