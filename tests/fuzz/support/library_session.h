// The token library in this process over the in-process PC/SC stand-in: a token seeded once
// with objects of every kind the library keeps, installed afresh for each fuzz input, and an
// application's usual road through the C_ functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ckbase/zr_pkcs11.h"
#include "inproc_pcsc.h"

namespace inproc {

constexpr const char* kReaderName = "Virtual PCD 00 00";
constexpr const char* kUserPin = "12345678";
constexpr const char* kSoPin = "87654321";

CK_FUNCTION_LIST_PTR Functions();
tokensim::TokenOptions InitialisedTokenOptions();

// Contents of a token that holds a data object, a GOST 28147-89 key and a DSTU 4145 key pair,
// made once through the library itself.
const tokensim::TokenState& SeededToken();
// One reader with a token holding `state`; the stand-in is reset first.
tokensim::Simulator& InstallToken(const tokensim::TokenState& state);

// Initialise, list slots, tokens and mechanisms, open a session, log in, read every object's
// attributes, sign, digest, create and destroy an object, log out, finalise. Results are
// ignored: the point is that no answer makes the library crash or overread.
void RunApplicationRoad(const char* configuration = nullptr);

// Handles of every object the session sees (at most 64).
std::vector<CK_OBJECT_HANDLE> FindAll(CK_SESSION_HANDLE session);

// Reads input bytes in order; zero once exhausted.
class ByteStream {
public:
    ByteStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t Next32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | Next();
        return value;
    }
    std::vector<uint8_t> Take(size_t count) {
        count = std::min(count, size_ - std::min(pos_, size_));
        std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + count);
        pos_ += count;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace inproc
