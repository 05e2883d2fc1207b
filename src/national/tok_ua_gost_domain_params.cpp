#include "national/tok_ua_gost_domain_params.h"

#include <cstring>
#include <vector>

#include "asn1/asn1_codec.h"
#include "ckbase/exception.h"
#include "driver/stored_object_utl.h"
#include "driver/token_storage.h"
#include "national/gost_token_access.h"
#include "support/math.h"
#include "zrasn1/SBoxOID.h"
#include "zrasn1/SBoxValue.h"

namespace qel {

namespace {

constexpr uint32_t kStoredLocal = 0x40000;

// An untrusted value must be exactly one BER value of the type.
void RequireDecodable(asn_TYPE_descriptor_t& type, const tru::Buffer& value)
{
    if (value.Empty()) return;
    if (!asn1::Decode<void>(type, value.Data(), value.Size())) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
}

}  // namespace

void TokUAGostDomainParams::SetCopyable(bool) { throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY); }

void TokUAGostDomainParams::SetID(const tru::Buffer& id)
{
    RequireDecodable(asn_DEF_SBoxOID, id);
    StoredObjectUtl::CopyBuffer(id_, id);
}

void TokUAGostDomainParams::SetSBox(const tru::Buffer& sBox)
{
    RequireDecodable(asn_DEF_SBoxValue, sBox);
    StoredObjectUtl::CopyBuffer(sBox_, sBox);
}

void TokUAGostDomainParams::InitializeWithAttributes(zrck::ObjectToken* token, zrck::AttributeTemplate& attributes)
{
    zrck::TokUAGostDomainParams::InitializeWithAttributes(token, attributes);
    const GostTokenAccess owner(GetTokenPtr());
    if (!owner.IsNationalSupported()) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    owner.AddParam(id_, CKK_GOST28147_NAT, sBox_);
}

CK_ULONG TokUAGostDomainParams::GetObjectSize()
{
    return GetStorageSize(StoredObjectUtl::StorageOf(*this));
}

void TokUAGostDomainParams::StoreAttributes()
{
    TokenStorage* storage = StoredObjectUtl::StorageOf(*this);
    // Domain parameters have no data file: their attribute file tells whether they are stored.
    if (GetAttributeFile() == 0) {
        SetObjectFile(0);
        StoredObjectUtl::ReserveFilesIfNone(*this, *this, UA_GOST_DOMAIN_PARAMS);
    }
    uint8_t flags[4];
    vdk::Math::PutUInt(vdk::Math::LITTLE_ENDIAN_ORDER, kStoredLocal, flags);
    std::vector<storage::Attribute> records;
    records.push_back(StoredObjectUtl::Record(tokattr::kFlags, flags, sizeof flags));
    records.push_back(StoredObjectUtl::Record(tokattr::kGostSboxes, sBox_));
    if (!GetLabelStored().Empty()) records.push_back(StoredObjectUtl::Record(CKA_LABEL, GetLabelStored()));
    if (!id_.Empty()) records.push_back(StoredObjectUtl::Record(CKA_ID, id_));
    storage->WriteAttributeFile(GetAttributeFile(), records.data(), static_cast<unsigned>(records.size()));
}

void TokUAGostDomainParams::ReadAttributes()
{
    InitDefaults();
    if (GetLifeTime() != LIFETIME_TOKEN) return;
    std::vector<storage::AttributeBuff> records;
    zrck::AttributeTemplate attributes;
    StoredObjectUtl::ReadTemplate(*this, *this, CKO_DOMAIN_PARAMETERS, records, attributes);
    // Fixed for this class: the stored flags are not applied (CKA_COPYABLE would be refused).
    for (CK_ATTRIBUTE_TYPE fixed : {CKA_LOCAL, CKA_MODIFIABLE, CKA_COPYABLE}) {
        if (zrck::Attribute* entry = attributes.GetAttributeIfExists(fixed)) entry->mProcessed = 1;
    }
    SetupAttributes(nullptr, attributes);
    GostTokenAccess(GetTokenPtr()).AddParam(id_, CKK_GOST28147_NAT, sBox_);
}

}  // namespace qel
