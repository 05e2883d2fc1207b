#include "asn1/asn1_codec.h"

#include "zrasn1/DSTU4145Params.h"
#include "zrasn1/ber_decoder.h"
#include "zrasn1/constr_CHOICE.h"
#include "zrasn1/constr_SEQUENCE.h"
#include "zrasn1/der_encoder.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace qel {
namespace asn1 {

void* DecodeWhole(asn_TYPE_descriptor_t& type, const void* data, size_t size)
{
    if (data == nullptr || size == 0) return nullptr;
    void* value = nullptr;
    const asn_dec_rval_t rv = ber_decode(nullptr, &type, &value, data, size);
    if (rv.code != RC_OK || rv.consumed != size) {
        StructFree{&type}(value);
        return nullptr;
    }
    return value;
}

Decoded<DSTU4145Params> DecodeDstu4145Params(const void* data, size_t size)
{
    auto params = Decode<DSTU4145Params>(asn_DEF_DSTU4145Params, data, size);
    if (params && params->params.present == DSTU4145Params__params_PR_ecbinary) {
        ECBinary_t& curve = params->params.choice.ecbinary;
        // The BER decoder leaves a DEFAULT member absent; the generated setter installs the 0.
        asn_TYPE_member_t& version = asn_DEF_ECBinary.elements[0];
        if (curve.version == nullptr && version.default_value(1, reinterpret_cast<void**>(&curve.version)) != 0)
            return nullptr;
    }
    return params;
}

namespace {

int AppendBytes(const void* buffer, size_t size, void* app_key)
{
    auto* out = static_cast<std::vector<uint8_t>*>(app_key);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    out->insert(out->end(), bytes, bytes + size);
    return 0;
}

int ChoicePresent(const asn_CHOICE_specifics_t& specs, const void* value)
{
    const char* at = static_cast<const char*>(value) + specs.pres_offset;
    switch (specs.pres_size) {
    case sizeof(int): { int v; std::memcpy(&v, at, sizeof(v)); return v; }
    case sizeof(short): { short v; std::memcpy(&v, at, sizeof(v)); return v; }
    case sizeof(char): { char v; std::memcpy(&v, at, sizeof(v)); return v; }
    default: return 0;
    }
}

// DER leaves out a member equal to its DEFAULT, which the runtime's encoder does not do: such
// members are detached for the encoding and put back afterwards.
class DefaultsDetached {
public:
    DefaultsDetached(asn_TYPE_descriptor_t& type, void* value) { Detach(type, value); }
    ~DefaultsDetached()
    {
        for (auto& slot : detached_) *slot.first = slot.second;
    }
    DefaultsDetached(const DefaultsDetached&) = delete;
    DefaultsDetached& operator=(const DefaultsDetached&) = delete;

private:
    void Detach(asn_TYPE_descriptor_t& type, void* value)
    {
        if (value == nullptr) return;
        if (type.der_encoder == SEQUENCE_encode_der) {
            for (int i = 0; i < type.elements_count; ++i) DetachMember(type.elements[i], value);
        } else if (type.der_encoder == CHOICE_encode_der) {
            const int present = ChoicePresent(*static_cast<const asn_CHOICE_specifics_t*>(type.specifics), value);
            if (present > 0 && present <= type.elements_count) DetachMember(type.elements[present - 1], value);
        }
    }

    void DetachMember(asn_TYPE_member_t& member, void* value)
    {
        char* at = static_cast<char*>(value) + member.memb_offset;
        if (!(member.flags & ATF_POINTER)) {
            Detach(*member.type, at);
            return;
        }
        void** slot = reinterpret_cast<void**>(at);
        if (*slot == nullptr) return;
        if (member.default_value != nullptr && member.default_value(0, slot) == 1) {
            detached_.emplace_back(slot, *slot);
            *slot = nullptr;
            return;
        }
        Detach(*member.type, *slot);
    }

    std::vector<std::pair<void**, void*>> detached_;
};

} // namespace

bool EncodeDer(asn_TYPE_descriptor_t& type, const void* value, std::vector<uint8_t>& out)
{
    out.clear();
    // The value is changed only while it is encoded and restored before returning.
    void* mutableValue = const_cast<void*>(value);
    DefaultsDetached defaults(type, mutableValue);
    const asn_enc_rval_t rv = der_encode(&type, mutableValue, AppendBytes, &out);
    if (rv.encoded < 0) {
        out.clear();
        return false;
    }
    return true;
}

bool OidToText(const OBJECT_IDENTIFIER_t& oid, std::string& text)
{
    unsigned long arcs[kMaxOidArcs];
    const int count = OBJECT_IDENTIFIER_get_arcs(&oid, arcs, sizeof(arcs[0]), kMaxOidArcs);
    if (count <= 0 || size_t(count) > kMaxOidArcs) return false;
    text.clear();
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(arcs[i]);
    }
    return true;
}

bool OidFromText(const std::string& text, OBJECT_IDENTIFIER_t& oid)
{
    long arcs[kMaxOidArcs];
    const char* end = nullptr;
    const int count = OBJECT_IDENTIFIER_parse_arcs(text.c_str(), ssize_t(text.size()), arcs, kMaxOidArcs, &end);
    if (count < 2 || size_t(count) > kMaxOidArcs || end != text.c_str() + text.size()) return false;
    return OBJECT_IDENTIFIER_set_arcs(&oid, arcs, sizeof(arcs[0]), unsigned(count)) == 0;
}

} // namespace asn1
} // namespace qel
