// An in-memory token that offers the GOST objects (its parameter storage is a map; it has no
// device storage, so nothing can be stored through it), a session over it, and helpers that create GOST keys the way C_CreateObject does.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/memory_token.h"
#include "national/gost_token_access.h"
#include "national/tok_ua_gost_cipher_mechanisms.h"
#include "national/tok_ua_gost_domain_params.h"
#include "national/tok_ua_gost_secret_key.h"
#include "national/ua_gost_utl.h"
#include "objects/object_test_util.h"
#include "qelcrypt/gost_test_util.h"

namespace gost_test {

inline std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }
inline std::vector<uint8_t> Vec(const tru::Buffer& b) { return std::vector<uint8_t>(b.Data(), b.Data() + b.Size()); }
inline std::string Text(const tru::Buffer& b) { return std::string(reinterpret_cast<const char*>(b.Data()), b.Size()); }

class GostTestToken : public zrtest::MemoryToken, public qel::GostTokenServices {
public:
    GostTestToken()
    {
        GetClassFactory()->RegisterClass(CKO_SECRET_KEY, CKK_GOST28147_NAT, &qel::TokUAGostSecretKey::ClassCouldBeCreated,
                                         &qel::TokUAGostSecretKey::GenerateTokObject);
        GetClassFactory()->RegisterClass(CKO_DOMAIN_PARAMETERS, CKK_GOST28147_NAT,
                                         &qel::TokUAGostDomainParams::ClassCouldBeCreated,
                                         &qel::TokUAGostDomainParams::GenerateTokObject);
    }

    // GOST services.
    bool IsNationalSupported() override { return nationalSupported; }
    bool FindParam(const tru::Buffer& id, CK_KEY_TYPE keyType, tru::BufferDynamic& value) override
    {
        auto found = params.find({Text(id), keyType});
        if (found == params.end()) return false;
        value.Set(found->second);
        return true;
    }
    void AddParam(const tru::Buffer& id, CK_KEY_TYPE keyType, const tru::Buffer& value) override
    {
        params[{Text(id), keyType}] = Text(value);
    }

    // Random bytes: a counter, or zeros for the first zeroDraws calls.
    void GenerateUserRandom(tru::Buffer& output) override
    {
        ++draws;
        for (uint32_t i = 0; i < output.Size(); ++i) {
            output.Data()[i] = draws <= zeroDraws ? 0 : static_cast<uint8_t>(draws * 31 + i);
        }
    }

    bool nationalSupported = true;
    unsigned long zeroDraws = 0;
    unsigned long draws = 0;
    std::map<std::pair<std::string, CK_KEY_TYPE>, std::string> params;
};

using GostTestSession = zrtest::MemorySession;

// The 00..1F key of the known answers.
inline std::string KeyValue0To31()
{
    std::string value(32, '\0');
    for (int i = 0; i < 32; ++i) value[i] = char(i);
    return value;
}

inline zrtest::Records GostKeyTemplate(const std::string& value)
{
    zrtest::Records records;
    records.ULong(CKA_CLASS, CKO_SECRET_KEY).ULong(CKA_KEY_TYPE, CKK_GOST28147_NAT).Raw(CKA_VALUE, value);
    return records;
}

// Creates an object through the token's class factory, as C_CreateObject does.
inline std::unique_ptr<zrck::TokObject> Create(GostTestToken& token, zrtest::Records& records)
{
    zrck::AttributeTemplate attributes(records.Array(), records.Count());
    std::unique_ptr<zrck::TokObject> object(token.GetClassFactory()->Generate(attributes));
    if (!object) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
    object->InitializeWithAttributes(&token, attributes);
    return object;
}

inline std::unique_ptr<qel::TokUAGostSecretKey> CreateKey(GostTestToken& token, zrtest::Records& records)
{
    std::unique_ptr<zrck::TokObject> object = Create(token, records);
    return std::unique_ptr<qel::TokUAGostSecretKey>(&dynamic_cast<qel::TokUAGostSecretKey&>(*object.release()));
}

inline std::unique_ptr<qel::TokUAGostSecretKey> CreateKey(GostTestToken& token, const std::string& value)
{
    zrtest::Records records = GostKeyTemplate(value);
    return CreateKey(token, records);
}

// ECB encryption of one block, to tell S-boxes and key values apart by their effect.
inline std::string EncryptBlock(zrck::MechanismSession& session, qel::TokUAGostSecretKey& key)
{
    qel::TokUAGostEcbMechanism ecb;
    ecb.EncryptInit(session, zrck::MechanismParameter(0, tru::Buffer()), key);
    const std::vector<uint8_t> block = Hex("0001020304050607");
    std::vector<uint8_t> out(8);
    unsigned long length = out.size();
    ecb.Encrypt(session, tru::Buffer(block.data(), 8), out.data(), &length);
    return ToHex(out);
}

inline std::string Der(unsigned dke) { return Bytes(Vec(qel::UAGostUtl::GetInstance()->GetDKE(dke))); }
inline std::string DerOid(unsigned dke) { return Bytes(Vec(qel::UAGostUtl::GetInstance()->GetDKEOID(dke))); }

}  // namespace gost_test
