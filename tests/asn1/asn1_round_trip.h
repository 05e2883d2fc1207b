// Decode, re-encode and decode again: what a decoder accepts must survive a DER round trip.
// Shared by the ASN.1 tests and the fuzz targets.
#pragma once

#include "asn1/asn1_codec.h"

#include <cstdlib>
#include <vector>

namespace asn1_test {

// Returns true when the input decodes; aborts when an accepted value does not round-trip.
inline bool DecodeAndRoundTrip(asn_TYPE_descriptor_t& type, const uint8_t* data, size_t size)
{
    auto value = qel::asn1::Decode<void>(type, data, size);
    if (!value) return false;
    std::vector<uint8_t> der;
    if (!qel::asn1::EncodeDer(type, value.get(), der)) std::abort();
    auto again = qel::asn1::Decode<void>(type, der.data(), der.size());
    std::vector<uint8_t> der2;
    if (!again || !qel::asn1::EncodeDer(type, again.get(), der2) || der2 != der) std::abort();
    return true;
}

} // namespace asn1_test
