#include "rsa/tok_rsa_keys.h"

#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "support/math.h"
#include "tru2/exception.h"

#include <cstring>

namespace qel {

namespace {

const uint8_t kPublicExponentBytes[] = {0x01, 0x00, 0x01};
const uint64_t kPublicExponent = 65537;

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_RSA_X_509,       CKM_RSA_PKCS,        CKM_SHA1_RSA_PKCS,
                                                CKM_SHA224_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SHA384_RSA_PKCS,
                                                CKM_SHA512_RSA_PKCS};

// The import blob's components, in blob order.
const CK_ATTRIBUTE_TYPE kBlobComponents[] = {CKA_MODULUS,  CKA_PRIVATE_EXPONENT, CKA_PRIME_1,    CKA_PRIME_2,
                                             CKA_EXPONENT_1, CKA_EXPONENT_2,     CKA_COEFFICIENT};

[[noreturn]] void Unextractable() { throw zrck::Exception(CKR_KEY_UNEXTRACTABLE); }

}  // namespace

const tru::Buffer TokRsaPrivateKey::PUBLIC_EXPONENT(kPublicExponentBytes, sizeof kPublicExponentBytes);

tru::Buffer TokRsaPrivateKey::AllowedMechanismTable()
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool TokRsaPrivateKey::IsInAllowedMechanismTable(CK_MECHANISM_TYPE type)
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

void TokRsaPrivateKey::AddRsaKeyComponent(vdk::SafeBuffer& blob, const tru::Buffer& component)
{
    if (component.Size() > 0xFFFF) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    const uint32_t start = blob.Size();
    vdk::SafeBuffer grown;
    const tru::TResult rc = grown.Alloc(start + 2 + component.Size());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
    if (start != 0) std::memcpy(grown.Data(), blob.Data(), start);
    vdk::Math::PutUShort(vdk::Math::BIG_ENDIAN_ORDER, static_cast<uint16_t>(component.Size()), grown.Data() + start);
    if (!component.Empty()) std::memcpy(grown.Data() + start + 2, component.Data(), component.Size());
    blob = std::move(grown);
}

void TokRsaPrivateKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    zrck::TokRsaPrivateKey::InitializeWithAttributes(token, attributes);
    if (!IsTokenObject() || !IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(GetModulusBits());
    vdk::SafeBuffer blob;
    unsigned count = 0;
    for (CK_ATTRIBUTE_TYPE type : kBlobComponents) {
        const zrck::Attribute* component = attributes.GetAttributeIfExists(type);
        if (component == nullptr) continue;
        AddRsaKeyComponent(blob, tru::Buffer(component->GetValue(), static_cast<uint32_t>(component->GetLength())));
        ++count;
    }
    if (count < sizeof kBlobComponents / sizeof kBlobComponents[0]) throw zrck::Exception(CKR_TEMPLATE_INCOMPLETE);
    if (GetObjectFile() != 0) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
    long keySlot = 0;
    long attributeFile = 0;
    StoredObjectUtl::StorageOf(*this)->LoadKeyM(paramSet, TokenObject, blob, keySlot, attributeFile, 0);
    SetObjectFile(keySlot);
    SetAttributeFile(attributeFile);
}

zrck::TokObject* TokRsaPrivateKey::GenerateCopy() { throw zrck::Exception(CKR_FUNCTION_NOT_SUPPORTED); }

CK_ULONG TokRsaPrivateKey::GetObjectSize()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    const CK_ULONG bits = GetModulusBits();
    return 2 * (bits / 8) + 5 * (bits / 16) + 30 + GetStorageSize(storage);
}

void TokRsaPrivateKey::SetModulus(const tru::Buffer& modulus) { StoredObjectUtl::CopyBuffer(modulus_, modulus); }

tru::Buffer TokRsaPrivateKey::GetAllowedMechanisms() const { return AllowedMechanismTable(); }
bool TokRsaPrivateKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const { return IsInAllowedMechanismTable(type); }

void TokRsaPrivateKey::AddDefaultUsageAttributes()
{
    flags_.decrypt = CK_TRUE;
    flags_.sign = CK_TRUE;
    flags_.signRecover = CK_TRUE;
}

CK_ULONG TokRsaPrivateKey::GetModulusBits() const
{
    return modulusBits_ != 0 ? modulusBits_ : static_cast<CK_ULONG>(modulus_.Size()) * 8;
}

void TokRsaPrivateKey::SetPublicExponent(const tru::Buffer& exponent)
{
    if (vdk::GetUnsignedLLongFromBigInt(exponent.Data(), exponent.Size()) != kPublicExponent) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

const tru::Buffer& TokRsaPrivateKey::GetPrivateExponent() const { Unextractable(); }
const tru::Buffer& TokRsaPrivateKey::GetPrime1() const { Unextractable(); }
const tru::Buffer& TokRsaPrivateKey::GetPrime2() const { Unextractable(); }
const tru::Buffer& TokRsaPrivateKey::GetExponent1() const { Unextractable(); }
const tru::Buffer& TokRsaPrivateKey::GetExponent2() const { Unextractable(); }
const tru::Buffer& TokRsaPrivateKey::GetCoefficient() const { Unextractable(); }

void TokRsaPrivateKey::StoreAttributes()
{
    // Every way a key object comes to be gives it its key slot first; a record without one
    // would name an empty slot.
    if (GetObjectFile() == 0) throw zrck::Exception(CKR_TEMPLATE_INCOMPLETE);
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredKeyRecords(FlagsWord(), fields_, GetLabelStored(), static_cast<uint16_t>(CKA_MODULUS), &modulus_)
        .WriteTo(*storage, GetAttributeFile());
}

void TokRsaPrivateKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    ReadStoredKeyAttributes(*this, *this, CKO_PRIVATE_KEY,
                            {{CKA_SENSITIVE, true}, {CKA_ALWAYS_SENSITIVE, true}, {CKA_EXTRACTABLE, false},
                             {CKA_NEVER_EXTRACTABLE, true}, {CKA_DECRYPT, false}, {CKA_DERIVE, false},
                             {CKA_UNWRAP, false}, {CKA_WRAP_WITH_TRUSTED, false}, {CKA_ALWAYS_AUTHENTICATE, false},
                             {CKA_SIGN, false}, {CKA_SIGN_RECOVER, false}});
}

bool TokRsaPrivateKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<TokRsaPrivateKey*>(&other);
    if (source == nullptr || source == this) return false;
    const bool changed = RefreshStoredValues(*this, *source);
    // Unlike the other stored keys, the modifiable flag follows the source both ways.
    SetModifiableStored(source->IsModifiableStored());
    modulusBits_ = source->modulusBits_;
    fields_.CopyPlainValues(source->fields_);
    flags_ = source->flags_;
    const bool modulusChanged = StoredObjectUtl::CopyIfDifferent(modulus_, source->modulus_);
    const bool buffersChanged = fields_.RefreshBuffers(source->fields_);
    return changed || modulusChanged || buffersChanged;
}

}  // namespace qel
