#include "national/tok_ua_gost_secret_key.h"

#include <cstring>

#include "cryptoki/exception.h"
#include "driver/token_storage.h"
#include "national/gost_errors.h"
#include "national/gost_token_services.h"
#include "national/ua_gost_utl.h"

namespace qel {

namespace {

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_GOST28147_ECB_NAT, CKM_GOST28147_CNT, CKM_GOST28147_CFB,
                                                CKM_GOST28147_MAC_NAT, CKM_GOST28147_WRAP};

// Bits of the stored flags word.
enum StoredFlag : uint32_t {
    kStoredModifiable = 0x1,
    kStoredCopyable = 0x2,
    kStoredTrusted = 0x4,
    kStoredDerive = 0x8,
    kStoredEncrypt = 0x10,
    kStoredVerify = 0x20,
    kStoredWrap = 0x80,
    kStoredSensitive = 0x100,
    kStoredDecrypt = 0x200,
    kStoredSign = 0x400,
    kStoredUnwrap = 0x1000,
    kStoredExtractable = 0x2000,
    kStoredAlwaysSensitive = 0x4000,
    kStoredNeverExtractable = 0x8000,
    kStoredLocal = 0x40000,
};

constexpr uint16_t kTokenKeyGenMechanism = 0x0166;
constexpr uint16_t kTokenLabel = 0x0003;
constexpr uint16_t kTokenId = 0x0102;
constexpr uint16_t kTokenStartDate = 0x0110;
constexpr uint16_t kTokenEndDate = 0x0111;
constexpr uint16_t kTokenSubject = 0x0101;

void Assign(tru::BufferDynamic& target, const tru::Buffer& source)
{
    const tru::TResult rc = target.Set(source.Size(), source.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

CK_DATE BlankDate()
{
    CK_DATE date;
    std::memset(&date, ' ', sizeof date);
    return date;
}

bool IsBlank(const CK_DATE& date)
{
    const CK_DATE blank = BlankDate();
    return std::memcmp(&date, &blank, sizeof date) == 0;
}

// Both forms of an absent generation date: all spaces or all zero bytes.
bool IsAbsent(const CK_ZR_DATETIME& date)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&date);
    bool spaces = true;
    bool zeros = true;
    for (size_t i = 0; i < sizeof date; ++i) {
        spaces = spaces && bytes[i] == ' ';
        zeros = zeros && bytes[i] == 0;
    }
    return spaces || zeros;
}

storage::Attribute Record(uint16_t id, const void* value, size_t length)
{
    if (length > 0xFFFF) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return storage::Attribute{id, value, static_cast<uint16_t>(length)};
}

storage::Attribute Record(uint16_t id, const tru::Buffer& value) { return Record(id, value.Data(), value.Size()); }

// A CK_ULONG-valued template entry as the token converter may give it: 4 bytes little-endian
// or a platform CK_ULONG.
CK_ULONG ReadStoredULong(const zrck::Attribute& entry)
{
    const auto* bytes = static_cast<const unsigned char*>(entry.GetValue());
    if (entry.GetLength() == 4) {
        return CK_ULONG(bytes[0]) | CK_ULONG(bytes[1]) << 8 | CK_ULONG(bytes[2]) << 16 | CK_ULONG(bytes[3]) << 24;
    }
    return entry.GetAsULong();
}

}  // namespace

TokUAGostSecretKey::TokUAGostSecretKey()
    : startDate_(BlankDate()), endDate_(BlankDate())
{
    std::memset(&generationDate_, ' ', sizeof generationDate_);
    InitDefaults();
}

GostTokenServices& TokUAGostSecretKey::RequireServices() const
{
    GostTokenServices* services = GostTokenServices::Of(GetTokenPtr());
    if (services == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return *services;
}

TokenStorage& TokUAGostSecretKey::RequireStorage() const
{
    TokenStorage* storage = RequireServices().GetTokenStorage();
    if (storage == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return *storage;
}

void TokUAGostSecretKey::InitDefaults()
{
    const tru::Buffer& dke1 = UAGostUtl::GetInstance()->GetDKE(1);
    sBoxAttribute_ = dke1;
    const tru::TResult rc = sBoxInUse_.Set(dke1.Size() - 2, dke1.Data() + 2);
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

void TokUAGostSecretKey::InitializeWithAttributes(zrck::Token* token, zrck::AttributeTemplate& attributes)
{
    zrck::TokUAGostSecretKey::InitializeWithAttributes(token, attributes);
    if (!RequireServices().IsNationalSupported()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
}

CK_ULONG TokUAGostSecretKey::GetObjectSize()
{
    GostTokenServices& services = RequireServices();
    return GetStorageSize(services.GetTokenStorage()) + kKeyObjectSize;
}

void TokUAGostSecretKey::SetKeyID(const tru::Buffer& id) { Assign(keyId_, id); }

void TokUAGostSecretKey::SetSubject(const tru::Buffer& subject) { Assign(subject_, subject); }

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
    for (Flag usage : {kEncrypt, kDecrypt, kWrap, kUnwrap, kSign, kVerify}) setFlag(usage, CK_TRUE);
}

void TokUAGostSecretKey::SetIsSensitive(CK_BBOOL value)
{
    if (flag(kSensitive) && !value) throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
    setFlag(kSensitive, value);
}

void TokUAGostSecretKey::SetIsAlwaysSensitive(CK_BBOOL value)
{
    setFlag(kAlwaysSensitive, value);
    if (value) setFlag(kSensitive, CK_TRUE);
}

const tru::Buffer& TokUAGostSecretKey::GetCheckValue() const { throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID); }

void TokUAGostSecretKey::SetCheckValue(const tru::Buffer&) { throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID); }

void TokUAGostSecretKey::SetSBox(const tru::Buffer& sBox)
{
    vdk::SafeBuffer dke;
    const bool known = WithFrameworkErrors(
        [&] { return UAGostUtl::GetInstance()->ExtractSBox(sBox, dke, CKR_ATTRIBUTE_VALUE_INVALID); });
    if (!known) {
        vdk::SafeBuffer registered;
        if (!RequireServices().FindParam(sBox, CKK_GOST28147_NAT, registered)) {
            throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        // A registered S-box is normally the DER OCTET STRING 04 40 DKE.
        const uint8_t* bytes = registered.Data();
        if (registered.Size() == 66 && bytes[0] == 0x04 && bytes[1] == 0x40) {
            Assign(dke, tru::Buffer(bytes + 2, 64));
        } else {
            Assign(dke, registered);
        }
    }
    sBoxInUse_ = std::move(dke);
    sBoxAttribute_ = sBox;
}

const tru::Buffer& TokUAGostSecretKey::GetValue() const
{
    GostTokenServices& services = RequireServices();
    return value_.GetData(services.GetTokenStorage());
}

void TokUAGostSecretKey::SetValue(const tru::Buffer& value)
{
    if (value.Size() != VALUE_LENGTH) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    value_.SetData(value);
}

zrck::TokObject* TokUAGostSecretKey::GenerateCopy()
{
    std::unique_ptr<TokUAGostSecretKey> copy(new TokUAGostSecretKey());
    copy->SetCopyMode(COPY_MODE);
    copy->SetTokenPtr(GetTokenPtr());
    copy->SetOwnerSession(GetOwnerSession());
    copy->SetVisibility(GetVisibility());
    const ObjectLifeTimeEnum lifeTime = GetLifeTime();
    copy->SetLifeTime(lifeTime == LIFETIME_FIXED || lifeTime == LIFETIME_MECHANISM ? LIFETIME_TOKEN : lifeTime);
    copy->SetModifiableStored(IsModifiableStored());
    copy->SetCopyableStored(IsCopyableStored());
    copy->SetLabelStored(GetLabelStored());
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    copy->SetRefreshLock(true);
    // The copy is a new object: it gets files of its own when stored, and carries the value
    // itself, read from the source's data file first when the source never read it.
    copy->value_.CopyData(value_, GostTokenServices::Of(GetTokenPtr()) != nullptr
                                      ? GostTokenServices::Of(GetTokenPtr())->GetTokenStorage()
                                      : nullptr);
    copy->generationDate_ = generationDate_;
    return copy.release();
}

bool TokUAGostSecretKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* twin = dynamic_cast<TokUAGostSecretKey*>(&other);
    if (twin == nullptr || twin == this) return false;
    startDate_ = twin->startDate_;
    endDate_ = twin->endDate_;
    derive_ = twin->derive_;
    local_ = twin->local_;
    keyGenMechanism_ = twin->keyGenMechanism_;
    std::memcpy(flags_, twin->flags_, sizeof flags_);
    bool changed = false;
    if (sBoxAttribute_ != twin->sBoxAttribute_ || sBoxInUse_ != twin->sBoxInUse_) {
        sBoxAttribute_ = twin->sBoxAttribute_;
        sBoxInUse_ = twin->sBoxInUse_;
        changed = true;
    }
    value_.RefreshData(twin->value_);
    if (keyId_ != twin->keyId_) {
        Assign(keyId_, twin->keyId_);
        changed = true;
    }
    if (subject_ != twin->subject_) {
        Assign(subject_, twin->subject_);
        changed = true;
    }
    if (GetLabelStored() != twin->GetLabelStored()) SetLabelStored(twin->GetLabelStored());
    if (!twin->IsModifiableStored()) SetModifiableStored(false);
    if (!twin->IsCopyableStored()) SetCopyableStored(false);
    return changed;
}

uint32_t TokUAGostSecretKey::StoredFlags() const
{
    struct Bit {
        bool on;
        uint32_t bit;
    };
    const Bit bits[] = {
        {IsModifiableStored(), kStoredModifiable}, {IsCopyableStored(), kStoredCopyable},
        {flag(kTrusted) != 0, kStoredTrusted},     {derive_ != 0, kStoredDerive},
        {flag(kEncrypt) != 0, kStoredEncrypt},     {flag(kVerify) != 0, kStoredVerify},
        {flag(kWrap) != 0, kStoredWrap},           {flag(kSensitive) != 0, kStoredSensitive},
        {flag(kDecrypt) != 0, kStoredDecrypt},     {flag(kSign) != 0, kStoredSign},
        {flag(kUnwrap) != 0, kStoredUnwrap},       {flag(kExtractable) != 0, kStoredExtractable},
        {flag(kAlwaysSensitive) != 0, kStoredAlwaysSensitive},
        {flag(kNeverExtractable) != 0, kStoredNeverExtractable},
        {local_ != 0, kStoredLocal},
    };
    uint32_t word = 0;
    for (const Bit& bit : bits) {
        if (bit.on) word |= bit.bit;
    }
    return word;
}

void TokUAGostSecretKey::StoreAttributes()
{
    TokenStorage& storage = RequireStorage();
    if (GetObjectFile() == 0) {
        long objectFile = 0;
        long attributeFile = 0;
        storage.ReserveNewObject(UA_GOST_SECRET_KEY, IsPrivateObject() ? PrivateObject : PublicObject, objectFile,
                                 attributeFile);
        SetObjectFile(objectFile);
        SetAttributeFile(attributeFile);
    }
    if (value_.IsLoaded() || value_.IsSet()) {
        storage.WriteDataFileM(GetObjectFile(), value_.GetBuffer());
        if (value_.GetFileId() != GetObjectFile()) value_.AssignStorageParams(GetObjectFile());
    }

    // Fixed-width little-endian words on the token.
    const uint32_t flags = StoredFlags();
    const uint8_t flagBytes[4] = {uint8_t(flags), uint8_t(flags >> 8), uint8_t(flags >> 16), uint8_t(flags >> 24)};
    const uint32_t mechanism = static_cast<uint32_t>(keyGenMechanism_);
    const uint8_t mechanismBytes[4] = {uint8_t(mechanism), uint8_t(mechanism >> 8), uint8_t(mechanism >> 16),
                                       uint8_t(mechanism >> 24)};
    std::vector<storage::Attribute> records;
    records.push_back(Record(tokattr::kFlags, flagBytes, sizeof flagBytes));
    records.push_back(Record(kTokenKeyGenMechanism, mechanismBytes, sizeof mechanismBytes));
    records.push_back(Record(tokattr::kGostSboxes, sBoxAttribute_));
    if (!GetLabelStored().Empty()) records.push_back(Record(kTokenLabel, GetLabelStored()));
    if (!keyId_.Empty()) records.push_back(Record(kTokenId, keyId_));
    if (!IsBlank(startDate_)) records.push_back(Record(kTokenStartDate, &startDate_, sizeof startDate_));
    if (!IsBlank(endDate_)) records.push_back(Record(kTokenEndDate, &endDate_, sizeof endDate_));
    if (!IsAbsent(generationDate_)) {
        records.push_back(Record(tokattr::kKeyGenerationDate, &generationDate_, sizeof generationDate_));
    }
    if (!subject_.Empty()) records.push_back(Record(kTokenSubject, subject_));
    storage.WriteAttributeFile(GetAttributeFile(), records.data(), static_cast<unsigned>(records.size()));
}

void TokUAGostSecretKey::ApplyStoredExtras(zrck::AttributeTemplate& attributes)
{
    if (zrck::Attribute* local = attributes.GetAttributeIfExists(CKA_LOCAL)) {
        SetLocal(local->GetAsBool() ? CK_TRUE : CK_FALSE);
        local->mProcessed = 1;
    }
    if (zrck::Attribute* mechanism = attributes.GetAttributeIfExists(CKA_KEY_GEN_MECHANISM)) {
        if (mechanism->GetLength() != 4 && mechanism->GetLength() != sizeof(CK_ULONG)) {
            throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        SetKeyGenMechanism(ReadStoredULong(*mechanism));
        mechanism->mProcessed = 1;
    }
    if (zrck::Attribute* date = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE)) date->mProcessed = 1;
    const CK_ATTRIBUTE_TYPE defaultsFalse[] = {CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN, CKA_VERIFY,
                                               CKA_TRUSTED, CKA_DERIVE,  CKA_WRAP};
    zrck::Attribute added[sizeof defaultsFalse / sizeof defaultsFalse[0]];
    CK_ULONG count = 0;
    for (CK_ATTRIBUTE_TYPE type : defaultsFalse) {
        if (attributes.GetAttributeIfExists(type) == nullptr) added[count++].SetupOwnBool(type, false);
    }
    attributes.AddAttributesIfNotExist(added, count);
}

void TokUAGostSecretKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    value_.AssignStorageParams(GetObjectFile());
    GostTokenServices& services = RequireServices();
    TokenStorage& storage = RequireStorage();
    std::vector<storage::AttributeBuff> records;
    storage.ReadAttributeFile(GetAttributeFile(), records);
    zrck::AttributeTemplate attributes;
    services.ConvertAttributesFromToken(records, CKO_SECRET_KEY, attributes);
    ApplyStoredExtras(attributes);
    SetupAttributes(nullptr, attributes);
    if (const zrck::Attribute* date = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE)) {
        if (date->GetLength() == sizeof(CK_ZR_DATETIME)) {
            std::memcpy(&generationDate_, date->GetValue(), sizeof generationDate_);
        }
    }
}

}  // namespace qel
