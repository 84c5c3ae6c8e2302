#include "RepeatArtwork.hpp"

namespace QuolvaRepeatArt {

const unsigned char* const kDigitData[10] = {
    kDigit0Data, kDigit1Data, kDigit2Data, kDigit3Data, kDigit4Data,
    kDigit5Data, kDigit6Data, kDigit7Data, kDigit8Data, kDigit9Data,
};

// The sizes are defined in the generated source, so this table is filled when
// the module is loaded (dynamic initialisation of constants that are already
// set); the editor reads it only later, when it is created.
const unsigned int kDigitDataSize[10] = {
    kDigit0DataSize, kDigit1DataSize, kDigit2DataSize, kDigit3DataSize, kDigit4DataSize,
    kDigit5DataSize, kDigit6DataSize, kDigit7DataSize, kDigit8DataSize, kDigit9DataSize,
};

} // namespace QuolvaRepeatArt
