#pragma once

#include <cstdint>
#include <string>

namespace qel {

// Everything the brand decides: the library serves two brands of one token, chosen from the
// library's own file name.
struct BrandTexts {
    const char* manufacturer;       // CK_INFO.manufacturerID, slot manufacturer fallback
    const char* description;        // CK_INFO.libraryDescription
    const char* placeholderSlot;    // reader name of the slot shown when no reader exists
    const char* readerPrefix;       // names of the brand's own readers begin with it
    const char* attachedStem;       // description of an attached slot, before its ID
    const char* attachedStemModel;  // the same for a token of the model without RSA and ECDSA
};

constexpr uint32_t kBrandZorvane = 0;
constexpr uint32_t kBrandUlmar = 1;

// Brand 1 for 1, brand 0 for any other value.
const BrandTexts& GetBrandTexts(uint32_t brand);

// The brand whose library file names appear in the path (compared in lower case; the first
// brand wins when both appear), or `current` when neither does.
uint32_t ChooseBrand(const std::string& libraryPath, uint32_t current);

}  // namespace qel
