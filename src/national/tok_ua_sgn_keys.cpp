#include "national/tok_ua_sgn_keys.h"

#include "ckbase/exception.h"
#include "cryptoki/token.h"
#include "driver/token_storage.h"
#include "national/ua_sgn_util.h"
#include "national/ua_token.h"
#include "support/vdk_exception.h"
#include "tru2/exception.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace qel {

namespace {

constexpr uint16_t kFlagsRecordId = 0x8EFF;
constexpr uint16_t kGenerationDateRecordId = 0x8E02;

const CK_MECHANISM_TYPE kAllowedMechanisms[] = {CKM_DSTU4145, CKM_GOST34311_DSTU4145, CKM_DSTUDH_COFACTOR_DERIVE};

tru::Buffer AllowedMechanisms()
{
    return tru::Buffer(kAllowedMechanisms, sizeof kAllowedMechanisms);
}

bool IsAllowed(CK_MECHANISM_TYPE type)
{
    for (CK_MECHANISM_TYPE allowed : kAllowedMechanisms) {
        if (allowed == type) return true;
    }
    return false;
}

void CopyInto(tru::BufferDynamic& target, const tru::Buffer& value)
{
    const tru::TResult rc = target.Set(value.Size(), value.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

bool SameBytes(const tru::Buffer& a, const tru::Buffer& b)
{
    return a.Size() == b.Size() && (a.Size() == 0 || std::memcmp(a.Data(), b.Data(), a.Size()) == 0);
}

bool IsBlankDate(const CK_DATE& date)
{
    static const CK_DATE blank = [] {
        CK_DATE d;
        std::memset(&d, ' ', sizeof d);
        return d;
    }();
    return std::memcmp(&date, &blank, sizeof date) == 0;
}

bool IsUnsetGenerationDate(const CK_ZR_DATETIME& date)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&date);
    bool spaces = true;
    bool zeros = true;
    for (size_t i = 0; i < sizeof date; ++i) {
        spaces = spaces && bytes[i] == ' ';
        zeros = zeros && bytes[i] == 0;
    }
    return spaces || zeros;
}

uint32_t FlagBits(std::initializer_list<std::pair<bool, unsigned>> bits)
{
    uint32_t word = 0;
    for (const auto& bit : bits) {
        if (bit.first) word |= 1u << bit.second;
    }
    return word;
}

// The attribute-file records of a key, in the order they are written. Values are copied so the
// record pointers stay valid until the file is written.
class KeyRecords {
public:
    KeyRecords(uint32_t flags, const UASgnKeyFields& fields, const tru::Buffer& label)
    {
        AddU32(kFlagsRecordId, flags);
        AddU32(static_cast<uint16_t>(CKA_KEY_GEN_MECHANISM), static_cast<uint32_t>(fields.keyGenMechanism));
        Add(static_cast<uint16_t>(CKA_EC_PARAMS), fields.ecParams.Data(), fields.ecParams.Size());
        if (!label.Empty()) Add(static_cast<uint16_t>(CKA_LABEL), label.Data(), label.Size());
        if (!fields.keyId.Empty()) Add(static_cast<uint16_t>(CKA_ID), fields.keyId.Data(), fields.keyId.Size());
        if (!IsBlankDate(fields.startDate)) {
            Add(static_cast<uint16_t>(CKA_START_DATE), &fields.startDate, sizeof fields.startDate);
        }
        if (!IsBlankDate(fields.endDate)) {
            Add(static_cast<uint16_t>(CKA_END_DATE), &fields.endDate, sizeof fields.endDate);
        }
        if (!IsUnsetGenerationDate(fields.generationDate)) {
            Add(kGenerationDateRecordId, &fields.generationDate, sizeof fields.generationDate);
        }
        if (!fields.subject.Empty()) {
            Add(static_cast<uint16_t>(CKA_SUBJECT), fields.subject.Data(), fields.subject.Size());
        }
    }

    void WriteTo(TokenStorage& storage, long attributeFile)
    {
        std::vector<storage::Attribute> records;
        for (const Item& item : items_) {
            records.push_back({item.id, item.value.data(), vdk::SizeToUShortDynamic(static_cast<uint32_t>(item.value.size()))});
        }
        storage.WriteAttributeFile(attributeFile, records.data(), static_cast<unsigned>(records.size()));
    }

private:
    struct Item {
        uint16_t id;
        std::vector<uint8_t> value;
    };

    void Add(uint16_t id, const void* data, size_t size)
    {
        const auto* bytes = static_cast<const uint8_t*>(data);
        items_.push_back({id, std::vector<uint8_t>(bytes, bytes + size)});
    }
    void AddU32(uint16_t id, uint32_t value)
    {
        const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        Add(id, bytes, sizeof bytes);
    }

    std::vector<Item> items_;
};

// The part of reading an attribute file both key classes share. Defaults apply only to flags the
// file cannot speak for: with a flags word, an absent flag was stored false.
template <class Key>
void ReadKeyAttributes(Key& key, UASgnKeyFields& fields, CK_OBJECT_CLASS objectClass,
                       std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, bool>> defaultsWithoutFlags)
{
    const UAToken services = UAToken::Of(key.GetTokenPtr());
    std::vector<storage::AttributeBuff> records;
    services.GetUAStorage().ReadAttributeFile(key.GetAttributeFile(), records);
    zrck::AttributeTemplate attributes;
    services.ConvertAttributesFromToken(objectClass, records, attributes, key);

    if (zrck::Attribute* local = attributes.GetAttributeIfExists(CKA_LOCAL)) {
        key.SetLocal(local->GetAsBool() ? CK_TRUE : CK_FALSE);
        local->mProcessed = 1;
    }
    if (zrck::Attribute* mechanism = attributes.GetAttributeIfExists(CKA_KEY_GEN_MECHANISM)) {
        if (mechanism->GetLength() != 4) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        const auto* b = static_cast<const uint8_t*>(mechanism->GetValue());
        key.SetKeyGenMechanism(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
        mechanism->mProcessed = 1;
    }
    zrck::Attribute* generationDate = attributes.GetAttributeIfExists(CKA_ZR_KEY_GENERATION_DATE);
    if (generationDate != nullptr) generationDate->mProcessed = 1;

    // The flags word always yields CKA_MODIFIABLE.
    const bool hasFlags = attributes.GetAttributeIfExists(CKA_MODIFIABLE) != nullptr;
    std::vector<zrck::Attribute> defaults(defaultsWithoutFlags.size());
    size_t i = 0;
    for (const auto& entry : defaultsWithoutFlags) {
        defaults[i++].SetupOwnBool(entry.first, hasFlags ? false : entry.second);
    }
    attributes.AddAttributesIfNotExist(defaults.data(), defaults.size());

    key.SetupAttributes(nullptr, attributes);

    if (generationDate != nullptr) {
        CK_ZR_DATETIME date;
        std::memset(&date, ' ', sizeof date);
        std::memcpy(&date, generationDate->GetValue(), std::min<size_t>(generationDate->GetLength(), sizeof date));
        fields.generationDate = date;
    }
}

std::string StorageText(const zrck::TokObject& object, const TokenStoredObject& stored, const tru::Buffer& keyId)
{
    char head[64];
    std::snprintf(head, sizeof head, "[This: %08lX, Handle: %lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&object)),
                  static_cast<unsigned long>(object.GetHandle()));
    std::string id = keyId.ToHex();
    if (id.size() < 8) id.insert(0, 8 - id.size(), '0');
    char storageId[32];
    std::snprintf(storageId, sizeof storageId, "%08X", stored.GetStorageID());
    const tru::Buffer& label = stored.GetLabelStored();
    return std::string(object.GetObjectClassName()) + head + ", Label=\"" +
           std::string(reinterpret_cast<const char*>(label.Data()), label.Size()) + "\", KeyID: 0x" + id +
           ", StorageID: 0x" + storageId + "]";
}

} // namespace

// ---- shared fields ----

UASgnKeyFields::UASgnKeyFields()
{
    std::memset(&startDate, ' ', sizeof startDate);
    std::memset(&endDate, ' ', sizeof endDate);
    std::memset(&generationDate, ' ', sizeof generationDate);
}

void UASgnKeyFields::CopyPlainValues(const UASgnKeyFields& other)
{
    startDate = other.startDate;
    endDate = other.endDate;
    derive = other.derive;
    local = other.local;
    keyGenMechanism = other.keyGenMechanism;
}

bool UASgnKeyFields::RefreshBuffers(const UASgnKeyFields& other)
{
    bool changed = false;
    for (auto pair : {std::make_pair(&ecParams, &other.ecParams), std::make_pair(&keyId, &other.keyId),
                      std::make_pair(&subject, &other.subject)}) {
        if (!SameBytes(*pair.first, *pair.second)) {
            CopyInto(*pair.first, *pair.second);
            changed = true;
        }
    }
    return changed;
}

// ---- private key ----

TokUASgnPrivateKey::TokUASgnPrivateKey() { SetCopyableStored(false); }

void TokUASgnPrivateKey::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    zrck::Attribute* value = attributes.GetAttributeIfExists(CKA_VALUE);
    if (value != nullptr) value->mProcessed = 1;
    zrck::TokUASgnPrivateKey::InitializeWithAttributes(token, attributes);
    if (!IsTokenObject() || !IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    const UAToken services = UAToken::Of(GetTokenPtr());
    tru::BufferDynamic sbox;
    const EParamSet paramSet = UASgnUtl::ParseECParams(fields_.ecParams, sbox, services.GetDefaultUAParamset());
    if (value == nullptr) return;
    if (GetObjectFile() != 0) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
    long keySlot = 0;
    long attributeFile = 0;
    const tru::Buffer blob(value->GetValue(), static_cast<uint32_t>(value->GetLength()));
    services.GetUAStorage().LoadKeyM(paramSet, TokenObject, blob, keySlot, attributeFile, 0);
    SetObjectFile(keySlot);
    SetAttributeFile(attributeFile);
}

zrck::TokObject* TokUASgnPrivateKey::GenerateCopy() { throw zrck::Exception(CKR_FUNCTION_NOT_SUPPORTED); }

std::string TokUASgnPrivateKey::ToString() const { return StorageText(*this, *this, fields_.keyId); }

CK_ULONG TokUASgnPrivateKey::GetObjectSize()
{
    const UAToken services = UAToken::Of(GetTokenPtr());
    return GetStorageSize(&services.GetUAStorage()) +
           UASgnUtl::CalcKeySize(fields_.ecParams, services.GetDefaultUAParamset()) + 18;
}

void TokUASgnPrivateKey::SetKeyID(const tru::Buffer& id) { CopyInto(fields_.keyId, id); }
void TokUASgnPrivateKey::SetSubject(const tru::Buffer& subject) { CopyInto(fields_.subject, subject); }
void TokUASgnPrivateKey::SetECParams(const tru::Buffer& params) { CopyInto(fields_.ecParams, params); }

tru::Buffer TokUASgnPrivateKey::GetAllowedMechanisms() const { return AllowedMechanisms(); }
bool TokUASgnPrivateKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const { return IsAllowed(type); }

void TokUASgnPrivateKey::AddDefaultUsageAttributes()
{
    sign_ = CK_TRUE;
    fields_.derive = CK_TRUE;
}

void TokUASgnPrivateKey::SetIsSensitive(CK_BBOOL value)
{
    if (sensitive_ && !value) throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY);
    sensitive_ = value;
}

void TokUASgnPrivateKey::SetIsAlwaysSensitive(CK_BBOOL value)
{
    alwaysSensitive_ = value;
    if (value) sensitive_ = CK_TRUE;
}

void TokUASgnPrivateKey::AddGeneratedSensitiveAttributes(const zrck::MechanismSession&)
{
    sensitive_ = CK_TRUE;
    alwaysSensitive_ = CK_TRUE;
    extractable_ = CK_FALSE;
    neverExtractable_ = CK_TRUE;
}

const tru::Buffer& TokUASgnPrivateKey::GetValue() const { throw zrck::Exception(CKR_KEY_UNEXTRACTABLE); }

uint32_t TokUASgnPrivateKey::FlagsWord() const
{
    return FlagBits({{IsModifiable() != 0, 0}, {IsCopyable() != 0, 1}, {fields_.derive != 0, 3}, {sensitive_ != 0, 8},
                     {decrypt_ != 0, 9}, {sign_ != 0, 10}, {signRecover_ != 0, 11}, {unwrap_ != 0, 12},
                     {extractable_ != 0, 13}, {alwaysSensitive_ != 0, 14}, {neverExtractable_ != 0, 15},
                     {wrapWithTrusted_ != 0, 16}, {alwaysAuthenticate_ != 0, 17}, {fields_.local != 0, 18}});
}

void TokUASgnPrivateKey::StoreAttributes()
{
    if (GetObjectFile() == 0) {
        if (!IsPrivateObject()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        long keySlot = 0;
        long attributeFile = 0;
        UAToken::Of(GetTokenPtr()).GetUAStorage().ReserveNewKey(kUASgnPrivateKeyItemType, keySlot, attributeFile);
        SetObjectFile(keySlot);
        SetAttributeFile(attributeFile);
    }
    KeyRecords(FlagsWord(), fields_, GetLabelStored()).WriteTo(UAToken::Of(GetTokenPtr()).GetUAStorage(),
                                                                GetAttributeFile());
}

void TokUASgnPrivateKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    ReadKeyAttributes(*this, fields_, CKO_PRIVATE_KEY,
                      {{CKA_SENSITIVE, true}, {CKA_ALWAYS_SENSITIVE, true}, {CKA_EXTRACTABLE, false},
                       {CKA_NEVER_EXTRACTABLE, true}, {CKA_SIGN, false}, {CKA_DERIVE, false}, {CKA_UNWRAP, false},
                       {CKA_WRAP_WITH_TRUSTED, false}, {CKA_ALWAYS_AUTHENTICATE, false}});
}

bool TokUASgnPrivateKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<TokUASgnPrivateKey*>(&other);
    if (source == nullptr || source == this) return false;
    fields_.CopyPlainValues(source->fields_);
    sensitive_ = source->sensitive_;
    decrypt_ = source->decrypt_;
    sign_ = source->sign_;
    signRecover_ = source->signRecover_;
    unwrap_ = source->unwrap_;
    extractable_ = source->extractable_;
    alwaysSensitive_ = source->alwaysSensitive_;
    neverExtractable_ = source->neverExtractable_;
    wrapWithTrusted_ = source->wrapWithTrusted_;
    alwaysAuthenticate_ = source->alwaysAuthenticate_;
    bool changed = fields_.RefreshBuffers(source->fields_);
    if (!SameBytes(GetLabelStored(), source->GetLabelStored())) {
        SetLabelStored(source->GetLabelStored());
        changed = true;
    }
    SetModifiableStored(source->IsModifiableStored());
    return changed;
}

// ---- public key ----

zrck::TokObject* TokUASgnPublicKey::GenerateCopy()
{
    std::unique_ptr<TokUASgnPublicKey> copy(new TokUASgnPublicKey());
    copy->SetCopyMode(COPY_MODE);
    copy->SetTokenPtr(GetTokenPtr());
    copy->SetOwnerSession(GetOwnerSession());
    const ObjectLifeTimeEnum lifeTime = GetLifeTime();
    copy->SetLifeTime(lifeTime == LIFETIME_FIXED || lifeTime == LIFETIME_MECHANISM ? LIFETIME_TOKEN : lifeTime);
    copy->SetVisibility(GetVisibility());
    copy->SetObjectFile(GetObjectFile());
    copy->SetAttributeFile(GetAttributeFile());
    copy->SetModifiableStored(IsModifiableStored());
    copy->SetCopyableStored(IsCopyableStored());
    copy->SetLabelStored(GetLabelStored());
    copy->SetRefreshLock(false);
    copy->RefreshFrom(*this);
    // A point never read is read now: the copy must carry it.
    TokenStorage* storage = GetTokenPtr() != nullptr ? &UAToken::Of(GetTokenPtr()).GetUAStorage() : nullptr;
    copy->ecPoint_.CopyData(ecPoint_, storage);
    copy->fields_.generationDate = fields_.generationDate;
    return copy.release();
}

std::string TokUASgnPublicKey::ToString() const { return StorageText(*this, *this, fields_.keyId); }

CK_ULONG TokUASgnPublicKey::GetObjectSize()
{
    return GetStorageSize(&UAToken::Of(GetTokenPtr()).GetUAStorage());
}

void TokUASgnPublicKey::SetKeyID(const tru::Buffer& id) { CopyInto(fields_.keyId, id); }
void TokUASgnPublicKey::SetSubject(const tru::Buffer& subject) { CopyInto(fields_.subject, subject); }
void TokUASgnPublicKey::SetECParams(const tru::Buffer& params) { CopyInto(fields_.ecParams, params); }

tru::Buffer TokUASgnPublicKey::GetAllowedMechanisms() const { return AllowedMechanisms(); }
bool TokUASgnPublicKey::IsMechanismAllowed(CK_MECHANISM_TYPE type) const { return IsAllowed(type); }

bool TokUASgnPublicKey::IsAlgOIDAcceptable(const char*, int)
{
    throw zrck::Exception(CKR_FUNCTION_FAILED, "TokUASgnPublicKey is not linked with public key algorithm id now");
}

const tru::Buffer& TokUASgnPublicKey::GetECPoint() const
{
    if (GetTokenPtr() == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return ecPoint_.GetData(&UAToken::Of(GetTokenPtr()).GetUAStorage());
}

void TokUASgnPublicKey::SetECPoint(const tru::Buffer& point)
{
    UASgnUtl::VerifyECPointAsnTag(point);
    ecPoint_.SetData(point);
}

uint32_t TokUASgnPublicKey::FlagsWord() const
{
    return FlagBits({{IsModifiable() != 0, 0}, {IsCopyable() != 0, 1}, {trusted_ != 0, 2}, {fields_.derive != 0, 3},
                     {encrypt_ != 0, 4}, {verify_ != 0, 5}, {verifyRecover_ != 0, 6}, {wrap_ != 0, 7},
                     {fields_.local != 0, 18}});
}

void TokUASgnPublicKey::StoreAttributes()
{
    TokenStorage& storage = UAToken::Of(GetTokenPtr()).GetUAStorage();
    if (GetObjectFile() == 0) {
        long objectFile = 0;
        long attributeFile = 0;
        storage.ReserveNewObject(kUASgnPublicKeyItemType, IsPrivateObject() ? PrivateObject : PublicObject, objectFile,
                                 attributeFile);
        SetObjectFile(objectFile);
        SetAttributeFile(attributeFile);
    }
    if (ecPoint_.IsLoaded() || ecPoint_.IsSet()) {
        const vdk::SafeBuffer point(ecPoint_.GetBuffer());
        ecPoint_.AssignStorageParams(GetObjectFile());
        storage.WriteDataFileM(GetObjectFile(), point);
    }
    KeyRecords(FlagsWord(), fields_, GetLabelStored()).WriteTo(storage, GetAttributeFile());
}

void TokUASgnPublicKey::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    ecPoint_.AssignStorageParams(GetObjectFile());
    ReadKeyAttributes(*this, fields_, CKO_PUBLIC_KEY,
                      {{CKA_VERIFY, false}, {CKA_TRUSTED, false}, {CKA_DERIVE, false}, {CKA_WRAP, false}});
}

bool TokUASgnPublicKey::RefreshFrom(TokenStoredObject& other)
{
    if (IsRefreshLocked()) return false;
    auto* source = dynamic_cast<TokUASgnPublicKey*>(&other);
    if (source == nullptr || source == this) return false;
    fields_.CopyPlainValues(source->fields_);
    encrypt_ = source->encrypt_;
    verify_ = source->verify_;
    verifyRecover_ = source->verifyRecover_;
    wrap_ = source->wrap_;
    trusted_ = source->trusted_;
    bool changed = fields_.RefreshBuffers(source->fields_);
    if (!SameBytes(GetLabelStored(), source->GetLabelStored())) {
        SetLabelStored(source->GetLabelStored());
        changed = true;
    }
    ecPoint_.RefreshData(source->ecPoint_);
    if (!source->IsModifiableStored()) SetModifiableStored(false);
    if (!source->IsCopyableStored()) SetCopyableStored(false);
    return changed;
}

} // namespace qel
