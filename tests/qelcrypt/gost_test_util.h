// Shared helpers of the GOST routine tests: hex conversion and the DKE1 table with the 00..1F key.
#pragma once

#include "national/dke_tables.h"
#include "qelcrypt/g28147.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace gost_test {

inline std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string ToHex(const uint8_t* p, size_t n)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string ToHex(const std::vector<uint8_t>& v) { return ToHex(v.data(), v.size()); }

// KExt of a 64-byte DKE.
inline std::vector<uint32_t> MakeKExt(const uint8_t* dke)
{
    uint8_t sblock[qel::kSBlockSize];
    qel::DkeToSBlock(dke, sblock);
    std::vector<uint32_t> kext(G28147_KEXT_WORDS);
    g28147_make_kext(kext.data(), sblock);
    return kext;
}

struct Dke1Key {
    std::vector<uint32_t> kext = MakeKExt(qel::glbDKE1 + 2);
    uint32_t key[8];
    Dke1Key()
    {
        uint8_t bytes[32];
        for (unsigned i = 0; i < 32; ++i) bytes[i] = uint8_t(i);
        std::memcpy(key, bytes, 32);
    }
};

} // namespace gost_test
