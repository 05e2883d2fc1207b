#ifndef TESTS_SIGN_WEB_SUPPORT_BASE64_TEXT_H
#define TESTS_SIGN_WEB_SUPPORT_BASE64_TEXT_H

#include "tru2/buffer.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace npdlscp_test {

// The base64 text of the bytes, zero-terminated, in memory from malloc (the way a service
// hands it out); null when memory runs out.
inline char* NewBase64Text(const unsigned char* data, unsigned long length)
{
    const std::string text = tru::Buffer(data, static_cast<uint32_t>(length)).ToBase64();
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// Decoded bytes of a base64 text; false for a text that is not base64.
inline bool DecodeBase64(const std::string& text, std::string& bytes)
{
    uint32_t length = 0;
    if (tru::Buffer::FromBase64(text.data(), static_cast<uint32_t>(text.size()), length,
                                nullptr) != 0)
        return false;
    bytes.assign(length, '\0');
    return length == 0 ||
           tru::Buffer::FromBase64(text.data(), static_cast<uint32_t>(text.size()), length,
                                   &bytes[0]) == 0;
}

// Result bytes whose every position is distinguishable from its neighbours' parts.
inline std::string PatternBytes(unsigned long length)
{
    std::string bytes(length, '\0');
    for (unsigned long i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    return bytes;
}

} // namespace npdlscp_test

#endif
