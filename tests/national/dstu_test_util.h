// Byte helpers of the DSTU 4145 tests: hex, DER pieces for hand-made curve parameters, and
// catching the framework's result codes.
#pragma once

#include "ckbase/exception.h"
#include "tru2/buffer.h"

#include <functional>
#include <string>
#include <vector>

namespace dstutest {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& text)
{
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes Of(const tru::Buffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Size()); }

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// One DER TLV with a short or one-byte long length (enough for the values built here).
inline Bytes Tlv(uint8_t tag, const Bytes& content)
{
    Bytes out{tag};
    if (content.size() < 128) {
        out.push_back(static_cast<uint8_t>(content.size()));
    } else {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes Int(long value)
{
    Bytes content;
    do {
        content.insert(content.begin(), static_cast<uint8_t>(value & 0xFF));
        value >>= 8;
    } while (value != 0);
    if (content[0] & 0x80) content.insert(content.begin(), 0x00);
    return Tlv(0x02, content);
}

inline CK_RV CodeOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

} // namespace dstutest
