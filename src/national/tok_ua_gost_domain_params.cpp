#include "national/tok_ua_gost_domain_params.h"

#include <cstring>
#include <vector>

#include "asn1/asn1_codec.h"
#include "cryptoki/exception.h"
#include "driver/token_storage.h"
#include "national/gost_token_services.h"
#include "zrasn1/SBoxOID.h"
#include "zrasn1/SBoxValue.h"

namespace qel {

namespace {

constexpr uint32_t kStoredLocal = 0x40000;
constexpr uint16_t kTokenLabel = 0x0003;
constexpr uint16_t kTokenId = 0x0102;

// An untrusted value must be exactly one BER value of the type.
void RequireDecodable(asn_TYPE_descriptor_t& type, const tru::Buffer& value)
{
    if (value.Empty()) return;
    if (!asn1::Decode<void>(type, value.Data(), value.Size())) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
}

void Assign(tru::BufferDynamic& target, const tru::Buffer& source)
{
    const tru::TResult rc = target.Set(source.Size(), source.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

storage::Attribute Record(uint16_t id, const tru::Buffer& value)
{
    if (value.Size() > 0xFFFF) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    return storage::Attribute{id, value.Data(), static_cast<uint16_t>(value.Size())};
}

}  // namespace

GostTokenServices& TokUAGostDomainParams::RequireServices() const
{
    GostTokenServices* services = GostTokenServices::Of(GetTokenPtr());
    if (services == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    return *services;
}

void TokUAGostDomainParams::SetCopyable(bool) { throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY); }

void TokUAGostDomainParams::SetID(const tru::Buffer& id)
{
    RequireDecodable(asn_DEF_SBoxOID, id);
    Assign(id_, id);
}

void TokUAGostDomainParams::SetSBox(const tru::Buffer& sBox)
{
    RequireDecodable(asn_DEF_SBoxValue, sBox);
    Assign(sBox_, sBox);
}

void TokUAGostDomainParams::InitializeWithAttributes(zrck::Token* token, zrck::AttributeTemplate& attributes)
{
    zrck::TokUAGostDomainParams::InitializeWithAttributes(token, attributes);
    GostTokenServices& services = RequireServices();
    if (!services.IsNationalSupported()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    services.AddParam(id_, CKK_GOST28147_NAT, sBox_);
}

CK_ULONG TokUAGostDomainParams::GetObjectSize()
{
    return GetStorageSize(RequireServices().GetTokenStorage());
}

void TokUAGostDomainParams::StoreAttributes()
{
    TokenStorage* storage = RequireServices().GetTokenStorage();
    if (storage == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    if (GetAttributeFile() == 0) {
        long objectFile = 0;
        long attributeFile = 0;
        storage->ReserveNewObject(UA_GOST_DOMAIN_PARAMS, IsPrivateObject() ? PrivateObject : PublicObject,
                                  objectFile, attributeFile);
        SetObjectFile(objectFile);
        SetAttributeFile(attributeFile);
    }
    const uint8_t flagBytes[4] = {uint8_t(kStoredLocal), uint8_t(kStoredLocal >> 8), uint8_t(kStoredLocal >> 16),
                                  uint8_t(kStoredLocal >> 24)};
    std::vector<storage::Attribute> records;
    records.push_back(storage::Attribute{tokattr::kFlags, flagBytes, sizeof flagBytes});
    records.push_back(Record(tokattr::kGostSboxes, sBox_));
    if (!GetLabelStored().Empty()) records.push_back(Record(kTokenLabel, GetLabelStored()));
    if (!id_.Empty()) records.push_back(Record(kTokenId, id_));
    storage->WriteAttributeFile(GetAttributeFile(), records.data(), static_cast<unsigned>(records.size()));
}

void TokUAGostDomainParams::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    GostTokenServices& services = RequireServices();
    TokenStorage* storage = services.GetTokenStorage();
    if (storage == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    std::vector<storage::AttributeBuff> records;
    storage->ReadAttributeFile(GetAttributeFile(), records);
    zrck::AttributeTemplate attributes;
    services.ConvertAttributesFromToken(records, CKO_DOMAIN_PARAMETERS, attributes);
    if (zrck::Attribute* local = attributes.GetAttributeIfExists(CKA_LOCAL)) local->mProcessed = 1;
    SetupAttributes(nullptr, attributes);
    services.AddParam(id_, CKK_GOST28147_NAT, sBox_);
}

}  // namespace qel
