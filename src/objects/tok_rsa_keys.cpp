#include "objects/tok_rsa_keys.h"

#include "ckbase/exception.h"
#include "objects/object_rules.h"
#include "support/math.h"

namespace zrck {

namespace {

const int NOT_OWN = -1;

// The modulus, its bit count and the public exponent, shared by both RSA key classes.
bool IsRsaPublicType(CK_ATTRIBUTE_TYPE type) {
    return type == CKA_MODULUS || type == CKA_MODULUS_BITS || type == CKA_PUBLIC_EXPONENT;
}

// CKA_MODULUS_BITS follows the modulus value, so a leading zero byte does not count.
template <class Key>
bool SetupRsaPublicPart(Key& key, const Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_MODULUS: {
            const tru::Buffer modulus = ReadBytes(attribute);
            key.SetModulus(modulus);
            key.SetModulusBits(vdk::GetBitLength(modulus));
            return true;
        }
        case CKA_MODULUS_BITS: key.SetModulusBits(attribute.GetAsULong()); return true;
        case CKA_PUBLIC_EXPONENT: key.SetPublicExponent(ReadBytes(attribute)); return true;
        default: return false;
    }
}

template <class Key>
CK_RV FillRsaPublicPart(const Key& key, Attribute& attribute) {
    switch (attribute.GetType()) {
        case CKA_MODULUS: return PlaceBytes(attribute, key.GetModulus());
        case CKA_MODULUS_BITS: return PlaceULong(attribute, key.GetModulusBits());
        case CKA_PUBLIC_EXPONENT: return PlaceBytes(attribute, key.GetPublicExponent());
        default: return NOT_OWN_TYPE;
    }
}

// 1 match, 0 no match, NOT_OWN for other types.
template <class Key>
int MatchRsaPublicPart(const Key& key, const Attribute& entry) {
    switch (entry.GetType()) {
        case CKA_MODULUS: return MatchBytes(entry, key.GetModulus());
        case CKA_MODULUS_BITS: return MatchULong(entry, key.GetModulusBits());
        case CKA_PUBLIC_EXPONENT: return MatchBytes(entry, key.GetPublicExponent());
        default: return NOT_OWN;
    }
}

bool IsRsaPrivateComponent(CK_ATTRIBUTE_TYPE type) { return type >= CKA_PRIVATE_EXPONENT && type <= CKA_COEFFICIENT; }

// Creation preconditions shared by both classes.
void RequireRsaTemplate(const AttributeTemplate& attributes, CK_ATTRIBUTE_TYPE exponent, const char* bitsMessage) {
    if (attributes.GetAttributeIfExists(CKA_MODULUS_BITS) != nullptr) {
        throw Exception(CKR_TEMPLATE_INCONSISTENT, bitsMessage);
    }
    if (attributes.GetAttributeIfExists(exponent) == nullptr) throw Exception(CKR_TEMPLATE_INCOMPLETE);
    if (attributes.GetAttributeIfExists(CKA_MODULUS) == nullptr) throw Exception(CKR_TEMPLATE_INCOMPLETE);
}

}  // namespace

// ---- TokRsaPrivateKey ----

bool TokRsaPrivateKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PRIVATE_KEY, CKA_KEY_TYPE, CKK_RSA);
}

CK_ULONG TokRsaPrivateKey::GetModulusBits() const { return vdk::GetBitLength(GetModulus()); }

bool TokRsaPrivateKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return IsRsaPublicType(type) || IsRsaPrivateComponent(type) || TokPrivateKey::IsMyAttributeType(type);
}

const tru::Buffer* TokRsaPrivateKey::PrivateComponent(CK_ATTRIBUTE_TYPE type) const {
    switch (type) {
        case CKA_PRIVATE_EXPONENT: return &GetPrivateExponent();
        case CKA_PRIME_1: return &GetPrime1();
        case CKA_PRIME_2: return &GetPrime2();
        case CKA_EXPONENT_1: return &GetExponent1();
        case CKA_EXPONENT_2: return &GetExponent2();
        case CKA_COEFFICIENT: return &GetCoefficient();
        default: return nullptr;
    }
}

bool TokRsaPrivateKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokPrivateKey::IsObjectMeetConditions(search)) return false;
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return TokPrivateKey::IsMyAttributeType(type); },
        [this](const Attribute& entry) { return MatchRsaPublicPart(*this, entry) == 1; });
}

CK_RV TokRsaPrivateKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        const CK_RV rv = FillRsaPublicPart(*this, entry);
        if (rv != NOT_OWN_TYPE) return rv;
        if (IsRsaPrivateComponent(entry.GetType())) {
            if (!IsValueRevealable(*this)) return PlaceUnavailable(entry, CKR_ATTRIBUTE_SENSITIVE);
            return PlaceBytes(entry, *PrivateComponent(entry.GetType()));
        }
        return TokPrivateKey::FillAttribute(entry);
    });
}

CK_RV TokRsaPrivateKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        const CK_ATTRIBUTE_TYPE type = entry.GetType();
        return IsRsaPublicType(type) || IsRsaPrivateComponent(type) ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokPrivateKey::UpdateAttributes(attributes);
}

void TokRsaPrivateKey::AddDefaultAttributes(AttributeTemplate& attributes) {
    AddTrueFlagsIfMissing(attributes, {CKA_DECRYPT, CKA_SIGN, CKA_SIGN_RECOVER});
}

void TokRsaPrivateKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    AddDefaultAttributes(attributes);
    SetupEntries(attributes, [this](const Attribute& entry) {
        if (SetupRsaPublicPart(*this, entry)) return;
        switch (entry.GetType()) {
            case CKA_PRIVATE_EXPONENT: SetPrivateExponent(ReadBytes(entry)); break;
            case CKA_PRIME_1: SetPrime1(ReadBytes(entry)); break;
            case CKA_PRIME_2: SetPrime2(ReadBytes(entry)); break;
            case CKA_EXPONENT_1: SetExponent1(ReadBytes(entry)); break;
            case CKA_EXPONENT_2: SetExponent2(ReadBytes(entry)); break;
            case CKA_COEFFICIENT: SetCoefficient(ReadBytes(entry)); break;
            default: TokPrivateKey::SetupAttribute(entry);
        }
    });
}

void TokRsaPrivateKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    RequireRsaTemplate(attributes, CKA_PRIVATE_EXPONENT, "RsaPrivateKey: CKA_MODULUS_BITS should not be set");
    InitializeKeyWithAttributes(*this, token, attributes);
}

// ---- TokRsaPublicKey ----

bool TokRsaPublicKey::ClassCouldBeCreated(const AttributeTemplate& attributes) {
    return TemplateNamesClass(attributes, CKO_PUBLIC_KEY, CKA_KEY_TYPE, CKK_RSA);
}

bool TokRsaPublicKey::IsMyAttributeType(CK_ATTRIBUTE_TYPE type) const {
    return IsRsaPublicType(type) || TokPublicKey::IsMyAttributeType(type);
}

bool TokRsaPublicKey::IsObjectMeetConditions(const AttributeTemplate& search) const {
    if (!TokPublicKey::IsObjectMeetConditions(search)) return false;
    // CKA_TRUSTED is compared by the public-key level although it does not list it as its own.
    return MatchOwnEntries(
        search, [this](CK_ATTRIBUTE_TYPE type) { return type == CKA_TRUSTED || TokPublicKey::IsMyAttributeType(type); },
        [this](const Attribute& entry) { return MatchRsaPublicPart(*this, entry) == 1; });
}

CK_RV TokRsaPublicKey::GetAttributes(AttributeTemplate& attributes) {
    return FillEntries(attributes, [this](Attribute& entry) {
        const CK_RV rv = FillRsaPublicPart(*this, entry);
        return rv != NOT_OWN_TYPE ? rv : TokPublicKey::FillAttribute(entry);
    });
}

CK_RV TokRsaPublicKey::UpdateAttributes(AttributeTemplate& attributes) {
    const CK_RV refused = CheckKeyUpdate(*this, attributes, [](const Attribute& entry) {
        return IsRsaPublicType(entry.GetType()) ? CKR_ATTRIBUTE_READ_ONLY : NOT_OWN_TYPE;
    });
    if (refused != CKR_OK) return refused;
    return TokPublicKey::UpdateAttributes(attributes);
}

void TokRsaPublicKey::AddDefaultAttributes(AttributeTemplate& attributes) {
    AddTrueFlagsIfMissing(attributes, {CKA_ENCRYPT, CKA_VERIFY, CKA_VERIFY_RECOVER});
}

void TokRsaPublicKey::SetupAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    SetTokenPtr(token);
    AddDefaultAttributes(attributes);
    SetupEntries(attributes, [this](const Attribute& entry) {
        if (!SetupRsaPublicPart(*this, entry)) TokPublicKey::SetupAttribute(entry);
    });
}

void TokRsaPublicKey::InitializeWithAttributes(ObjectToken* token, AttributeTemplate& attributes) {
    RequireRsaTemplate(attributes, CKA_PUBLIC_EXPONENT, "RsaPublicKey: CKA_MODULUS_BITS should not be set");
    SetupAttributes(token, attributes);
    if (!attributes.HasUsageAttributes()) AddDefaultUsageAttributes();
}

}  // namespace zrck
