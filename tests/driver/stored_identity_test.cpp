// The identity rule over attribute records: what C_SetAttributeValue may change may differ,
// anything else makes another object.
#include <gtest/gtest.h>

#include <string>

#include "ckbase/zr_pkcs11.h"
#include "driver/stored_identity.h"

namespace {

using qel::StoredRecordList;
namespace storage = qel::storage;

storage::AttributeBuff Record(uint16_t id, const std::string& bytes)
{
    return {id, std::make_shared<vdk::SafeBuffer>(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                  static_cast<uint32_t>(bytes.size()))};
}

storage::AttributeBuff Flags(uint32_t word)
{
    const std::string bytes = {char(word & 0xFF), char(word >> 8 & 0xFF), char(word >> 16 & 0xFF),
                               char(word >> 24 & 0xFF)};
    return Record(qel::tokattr::kFlags, bytes);
}

constexpr uint32_t kSign = 1u << 10;
constexpr uint32_t kSensitive = 1u << 8;
constexpr uint32_t kExtractable = 1u << 13;
constexpr uint32_t kAlwaysSensitive = 1u << 14;
constexpr uint32_t kLocal = 1u << 18;
constexpr uint32_t kCopyable = 1u << 1;

TEST(StoredIdentity, OnlyWhatCSetAttributeValueMayChangeDiffers)
{
    const uint16_t date = qel::tokattr::kKeyGenerationDate;
    const StoredRecordList key = {Flags(kSign | kLocal | kExtractable), Record(CKA_LABEL, "k1"), Record(CKA_ID, "1"),
                                  Record(date, "20261211101010"), Record(CKA_EC_PARAMS, "curve")};
    struct Case {
        const char* name;
        uint16_t itemType;
        StoredRecordList before;
        StoredRecordList after;
        bool same;
    } cases[] = {
        {"unchanged", qel::UA_SGN_PRIVATE_KEY, key, key, true},
        {"label, ID and usage flag changed", qel::UA_SGN_PRIVATE_KEY, key,
         {Flags(kLocal | kExtractable), Record(CKA_LABEL, "k2"), Record(CKA_ID, "2"), Record(date, "20261211101010"),
          Record(CKA_EC_PARAMS, "curve")},
         true},
        {"generated a second later", qel::UA_SGN_PRIVATE_KEY, key,
         {Flags(kSign | kLocal | kExtractable), Record(CKA_LABEL, "k1"), Record(CKA_ID, "1"),
          Record(date, "20261211101011"), Record(CKA_EC_PARAMS, "curve")},
         false},
        {"generation date gone", qel::UA_SGN_PRIVATE_KEY, key,
         {Flags(kSign | kLocal | kExtractable), Record(CKA_LABEL, "k1"), Record(CKA_EC_PARAMS, "curve")}, false},
        {"other curve", qel::UA_SGN_PRIVATE_KEY, key,
         {Flags(kSign | kLocal | kExtractable), Record(date, "20261211101010"), Record(CKA_EC_PARAMS, "other")},
         false},
        {"no longer local", qel::UA_SGN_PRIVATE_KEY, key,
         {Flags(kSign | kExtractable), Record(date, "20261211101010"), Record(CKA_EC_PARAMS, "curve")}, false},
        {"made sensitive, extractable cleared", qel::UA_SGN_PRIVATE_KEY, key,
         {Flags(kSign | kLocal | kSensitive), Record(date, "20261211101010"), Record(CKA_EC_PARAMS, "curve")}, true},
        {"sensitive cleared", qel::UA_SGN_PRIVATE_KEY, {Flags(kSensitive)}, {Flags(0)}, false},
        {"extractable set", qel::UA_SGN_PRIVATE_KEY, {Flags(0)}, {Flags(kExtractable)}, false},
        {"always sensitive set", qel::UA_SGN_PRIVATE_KEY, {Flags(0)}, {Flags(kAlwaysSensitive)}, false},
        {"copyable cleared", qel::DATA, {Flags(kCopyable)}, {Flags(0)}, true},
        {"copyable set", qel::DATA, {Flags(0)}, {Flags(kCopyable)}, false},
        {"data object's application", qel::DATA, {Flags(0), Record(CKA_APPLICATION, "a")},
         {Flags(0), Record(CKA_APPLICATION, "b"), Record(CKA_OBJECT_ID, "o")}, true},
        {"usage bit of a data object", qel::DATA, {Flags(0)}, {Flags(kSign)}, false},
        {"certificate's serial number", qel::CERTIFICATE, {Flags(0), Record(CKA_SERIAL_NUMBER, "1")},
         {Flags(0), Record(CKA_SERIAL_NUMBER, "2")}, true},
        {"certificate's subject", qel::CERTIFICATE, {Flags(0), Record(CKA_SUBJECT, "a")},
         {Flags(0), Record(CKA_SUBJECT, "b")}, false},
        {"public key's subject", qel::RSA_PUBLIC_KEY, {Flags(0), Record(CKA_SUBJECT, "a")},
         {Flags(0), Record(CKA_SUBJECT, "b")}, true},
        {"secret key's subject", qel::UA_GOST_SECRET_KEY, {Flags(0), Record(CKA_SUBJECT, "a")},
         {Flags(0), Record(CKA_SUBJECT, "b")}, false},
        {"RSA modulus", qel::RSA_PRIVATE_KEY, {Flags(0), Record(CKA_MODULUS, "n1")}, {Flags(0), Record(CKA_MODULUS, "n2")},
         false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qel::IsSameStoredObject(c.itemType, c.before, c.after), c.same) << c.name;
    }
}

}  // namespace
