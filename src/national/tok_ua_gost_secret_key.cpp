#include "national/tok_ua_gost_secret_key.h"

#include <cstring>
#include <memory>

#include "ckbase/exception.h"
#include "driver/stored_key.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "national/gost_errors.h"
#include "national/gost_token_access.h"
#include "national/ua_gost_utl.h"
#include "support/math.h"

namespace qel {

namespace {

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_GOST28147_ECB_NAT, CKM_GOST28147_CNT, CKM_GOST28147_CFB,
                                                CKM_GOST28147_MAC_NAT, CKM_GOST28147_WRAP};

}  // namespace

TokUAGostSecretKey::TokUAGostSecretKey() { InitDefaults(); }

void TokUAGostSecretKey::InitDefaults()
{
    const tru::Buffer& dke1 = UAGostUtl::GetInstance()->GetDKE(1);
    sBoxAttribute_ = dke1;
    const tru::TResult rc = sBoxInUse_.Set(dke1.Size() - 2, dke1.Data() + 2);
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

void TokUAGostSecretKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    zrck::TokUAGostSecretKey::InitializeWithAttributes(token, attributes);
    if (!GostTokenAccess(GetTokenPtr()).IsNationalSupported()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
}

CK_ULONG TokUAGostSecretKey::GetObjectSize()
{
    return GetStorageSize(StoredObjectUtl::StorageOf(*this)) + kKeyObjectSize;
}

tru::Buffer TokUAGostSecretKey::GetAllowedMechanisms() const
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool TokUAGostSecretKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

void TokUAGostSecretKey::AddDefaultUsageAttributes()
{
    for (CK_BBOOL* usage : {&flags_.encrypt, &flags_.decrypt, &flags_.wrap, &flags_.unwrap, &flags_.sign,
                            &flags_.verify}) {
        *usage = CK_TRUE;
    }
}

void TokUAGostSecretKey::SetSBox(const tru::Buffer& sBox)
{
    vdk::SafeBuffer dke;
    const bool known = WithFrameworkErrors(
        [&] { return UAGostUtl::GetInstance()->ExtractSBox(sBox, dke, CKR_ATTRIBUTE_VALUE_INVALID); });
    if (!known) {
        vdk::SafeBuffer registered;
        if (!GostTokenAccess(GetTokenPtr()).FindParam(sBox, CKK_GOST28147_NAT, registered)) {
            throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        // A registered S-box is normally the DER OCTET STRING 04 40 DKE.
        const uint8_t* bytes = registered.Data();
        if (registered.Size() == 66 && bytes[0] == 0x04 && bytes[1] == 0x40) {
            StoredObjectUtl::CopyBuffer(dke, tru::Buffer(bytes + 2, 64));
        } else {
            StoredObjectUtl::CopyBuffer(dke, registered);
        }
    }
    sBoxInUse_ = std::move(dke);
    sBoxAttribute_ = sBox;
    sBoxPending_ = false;
}

const tru::Buffer& TokUAGostSecretKey::GetValue() const { return StoredObjectUtl::ValueOf(value_, *this); }

void TokUAGostSecretKey::SetValue(const tru::Buffer& value)
{
    if (value.Size() != VALUE_LENGTH) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    value_.SetData(value);
}

zrck::TokObject* TokUAGostSecretKey::GenerateCopy()
{
    std::unique_ptr<TokUAGostSecretKey> copy(new TokUAGostSecretKey());
    StartStoredCopy(*copy, *copy, *this, *this, CopyFiles::OwnLater);
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    CarryValueToCopy(copy->value_, value_, *this);
    copy->fields_.generationDate = fields_.generationDate;
    return copy.release();
}

bool TokUAGostSecretKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* twin = dynamic_cast<TokUAGostSecretKey*>(&other);
    if (twin == nullptr || twin == this) return false;
    CopyAttributesFrom(*twin);
    bool changed = false;
    if (sBoxAttribute_ != twin->sBoxAttribute_ || sBoxInUse_ != twin->sBoxInUse_) {
        sBoxAttribute_ = twin->sBoxAttribute_;
        sBoxInUse_ = twin->sBoxInUse_;
        sBoxPending_ = twin->sBoxPending_;
        changed = true;
    }
    value_.RefreshData(twin->value_);
    changed = CopyIdentityFrom(*twin) || changed;
    RefreshStoredValues(*this, *twin);
    return changed;
}

void TokUAGostSecretKey::StoreAttributes()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    StoredObjectUtl::ReserveFilesIfNone(*this, *this, UA_GOST_SECRET_KEY);
    value_.Store(*storage, GetObjectFile(), LazyData::Rebind::KeepLoaded);
    // The flags word carries no wrap-with-trusted bit: the flag is one-way true here anyway.
    const uint32_t flags = StoredSecretKeyFlags(flags_, fields_, IsModifiableStored(), IsCopyableStored(), false);
    StoredKeyRecords(flags, fields_, GetLabelStored(), tokattr::kGostSboxes, &sBoxAttribute_)
        .WriteTo(*storage, GetAttributeFile());
}

void TokUAGostSecretKey::ApplyStoredSBox(zrck::AttributeTemplate& attributes)
{
    zrck::Attribute* entry = attributes.GetAttributeIfExists(CKA_GOST_SBOXES);
    if (entry == nullptr) return;
    entry->mProcessed = 1;
    const tru::Buffer stored(entry->GetValue(), static_cast<uint32_t>(entry->GetLength()));
    try {
        SetSBox(stored);
        sBoxPending_ = false;
    } catch (const zrck::Exception&) {
        // Named by domain parameters not read yet: kept as stored and resolved at first use,
        // never replaced by the default S-box.
        sBoxAttribute_ = stored;
        sBoxInUse_.Clear();
        sBoxPending_ = true;
    }
}

void TokUAGostSecretKey::ResolveSBoxIfPending()
{
    if (!sBoxPending_) return;
    const vdk::SafeBuffer stored(sBoxAttribute_);
    try {
        SetSBox(stored);
        sBoxPending_ = false;
    } catch (const zrck::Exception&) {
        // Still unknown: the ciphers refuse the empty S-box.
    }
}

void TokUAGostSecretKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile());
    StoredKeyReading how;
    how.mechanismAsULong = true;
    how.exactGenerationDate = true;
    how.beforeSetup = [this](zrck::AttributeTemplate& attributes) { ApplyStoredSBox(attributes); };
    ReadStoredKeyAttributes(*this, *this, CKO_SECRET_KEY,
                            {{CKA_ENCRYPT, false}, {CKA_DECRYPT, false}, {CKA_SIGN, false}, {CKA_VERIFY, false},
                             {CKA_TRUSTED, false}, {CKA_DERIVE, false}, {CKA_WRAP, false}},
                            how);
}

}  // namespace qel
