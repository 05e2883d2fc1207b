// Thin C++ helpers over the asn1c runtime: decoding with the structure freed on every path,
// DER encoding into a byte vector and OBJECT IDENTIFIER text.
#pragma once

#include "zrasn1/OBJECT_IDENTIFIER.h"
#include "zrasn1/asn_application.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct DSTU4145Params;  // generated type, zrasn1/DSTU4145Params.h

namespace qel {
namespace asn1 {

// Frees a structure (and what it points to) through its type descriptor.
struct StructFree {
    asn_TYPE_descriptor_t* type = nullptr;
    void operator()(void* value) const
    {
        if (value != nullptr && type != nullptr) type->free_struct(type, value, 0);
    }
};

template <typename T>
using Decoded = std::unique_ptr<T, StructFree>;

// BER-decodes one value that must fill the input exactly. Returns null, with the partly built
// structure already freed, when the input is empty, malformed, truncated, nested too deeply or
// followed by other bytes.
void* DecodeWhole(asn_TYPE_descriptor_t& type, const void* data, size_t size);

template <typename T>
Decoded<T> Decode(asn_TYPE_descriptor_t& type, const void* data, size_t size)
{
    return Decoded<T>(static_cast<T*>(DecodeWhole(type, data, size)), StructFree{&type});
}

// DSTU4145Params as Decode gives it, with an absent ECBinary version set to its default 0, so
// the version pointer of a decoded explicit curve is never null.
Decoded<::DSTU4145Params> DecodeDstu4145Params(const void* data, size_t size);

// An empty structure of the type, for building values to encode; freed like a decoded one.
template <typename T>
Decoded<T> MakeEmpty(asn_TYPE_descriptor_t& type)
{
    return Decoded<T>(static_cast<T*>(calloc(1, sizeof(T))), StructFree{&type});
}

// DER encoding of a structure; false when the runtime refuses the value.
bool EncodeDer(asn_TYPE_descriptor_t& type, const void* value, std::vector<uint8_t>& out);

constexpr size_t kMaxOidArcs = 30;

// "1.2.804..." from an OBJECT IDENTIFIER; false when it has no arcs, more than kMaxOidArcs arcs,
// or an arc that does not fit an unsigned long.
bool OidToText(const OBJECT_IDENTIFIER_t& oid, std::string& text);

// Sets an OBJECT IDENTIFIER from dotted text; false for text that is not an identifier.
bool OidFromText(const std::string& text, OBJECT_IDENTIFIER_t& oid);

} // namespace asn1
} // namespace qel
