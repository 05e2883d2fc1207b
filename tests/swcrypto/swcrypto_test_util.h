// Small helpers of the host cryptography tests: hex in and out, CK_RV of a throwing call.
#pragma once

#include <functional>
#include <string>

#include "ckbase/exception.h"
#include "tru2/buffer.h"

namespace swtest {

inline tru::BufferDynamic FromHex(const std::string& hex)
{
    if (hex.empty()) return tru::BufferDynamic();
    tru::BufferDynamic bytes(static_cast<uint32_t>(hex.size() / 2));
    if (bytes.FromHex(hex.c_str()) != tru::SUCCESS) throw std::invalid_argument(hex);
    return bytes;
}

inline tru::Buffer Text(const std::string& text) { return tru::Buffer(text.data(), static_cast<uint32_t>(text.size())); }

inline std::string Hex(const void* data, size_t size)
{
    return tru::Buffer(data, static_cast<uint32_t>(size)).ToHex();
}
inline std::string Hex(const tru::Buffer& bytes) { return bytes.ToHex(); }

inline CK_RV CodeOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

}  // namespace swtest
