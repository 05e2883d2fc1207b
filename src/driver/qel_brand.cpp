#include "driver/qel_brand.h"

#include <cctype>

namespace qel {

namespace {

const BrandTexts kBrands[] = {
    {"ZorvaneUA plc", "Zorvane Cryptoki QEL Token", "ZorvaneUA ZorvaneKey", "ZorvaneUA ZorvaneKey ",
     "ZorvaneUA ZorvaneKey ", "ZorvaneUA ZorvaneKeyDS "},
    {"Ulmar Technologies", "Ulmar Cryptoki QEL Token", "UlmarTechnologies UlmarKey", "UlmarTechnologies UlmarKey ",
     "UlmarTechnologies UlmarKey ", "UlmarTechnologies UlmarKey "},
};

const char* const kZorvaneFiles[] = {"zrcryptokiqel.dll", "libzrcryptokiqel.so", "libzrcryptokiqel.dylib"};
const char* const kUlmarFiles[] = {"ulmarkeyqel.dll", "libulmarkeyqel.so", "libulmarkeyqel.dylib"};

template <size_t N>
bool ContainsAny(const std::string& text, const char* const (&names)[N]) {
    for (const char* name : names) {
        if (text.find(name) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

const BrandTexts& GetBrandTexts(uint32_t brand) { return kBrands[brand == kBrandUlmar ? 1 : 0]; }

uint32_t ChooseBrand(const std::string& libraryPath, uint32_t current) {
    std::string lower(libraryPath);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ContainsAny(lower, kZorvaneFiles)) return kBrandZorvane;
    if (ContainsAny(lower, kUlmarFiles)) return kBrandUlmar;
    return current;
}

}  // namespace qel
