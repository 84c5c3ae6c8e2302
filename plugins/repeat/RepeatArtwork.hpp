// Radeda editor artwork: the embedded PNG pictures (declared in the generated
// repeat-artwork.hpp as kBackgroundData, kLampData, kSwitchOffData,
// kSwitchOnData, kDigit0Data ... kDigit9Data, each with its ...DataSize) and
// the digit pictures gathered into tables indexed by digit.
#ifndef QUOLVA_REPEAT_ARTWORK_HPP
#define QUOLVA_REPEAT_ARTWORK_HPP

#include "repeat-artwork.hpp"

namespace QuolvaRepeatArt {

// Entry k is the PNG of the seven-segment digit k (0 to 9) and its length.
extern const unsigned char* const kDigitData[10];
extern const unsigned int kDigitDataSize[10];

} // namespace QuolvaRepeatArt

#endif
