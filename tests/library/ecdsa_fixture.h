// ECDSA through the Cryptoki functions of the token library: a user session on the simulated
// token, key-pair generation, attribute reading and OpenSSL's own check of a signature.
#pragma once

#include "evp_helpers.h"
#include "module_rig_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ecdsatest {

using Bytes = std::vector<uint8_t>;
using librarytest::kUserPin;

struct Curve {
    const char* name;
    Bytes oid;       // CKA_EC_PARAMS
    const char* group;  // OpenSSL's name
    size_t fieldBytes;
    Bytes pointHeader;  // DER header of CKA_EC_POINT
};

inline const std::vector<Curve>& DeviceCurves()
{
    static const std::vector<Curve> curves = {
        {"P192", {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x01}, "P-192", 24, {0x04, 0x31}},
        {"P256", {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, "P-256", 32, {0x04, 0x41}},
        {"P521", {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23}, "P-521", 66, {0x04, 0x81, 0x85}},
    };
    return curves;
}

inline const Bytes kSecp384r1 = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};

struct KeyPair {
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

class EcdsaLibraryTest : public librarytest::ModuleRigTest {
protected:
    void SetUp() override { StartToken({}); }

    void StartToken(std::vector<std::string> simulatorOptions)
    {
        Start(nullptr, {librarytest::InitialisedToken(simulatorOptions)});
        if (IsSkipped() || HasFatalFailure()) return;
        OpenUserSession();
    }

    void OpenUserSession()
    {
        session = Open();
        ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    }

    // C_Finalize and C_Initialize: the library reads everything from the token again.
    void Reload()
    {
        ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
        initialized = false;
        ASSERT_EQ(Initialize(nullptr), CKR_OK);
        OpenUserSession();
    }

    CK_RV Generate(const Bytes& params, KeyPair& pair, std::vector<CK_ATTRIBUTE> extraPublic = {},
                   std::vector<CK_ATTRIBUTE> extraPrivate = {})
    {
        CK_MECHANISM mechanism{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
        std::vector<CK_ATTRIBUTE> pub = extraPublic;
        if (!params.empty()) pub.push_back({CKA_EC_PARAMS, const_cast<uint8_t*>(params.data()), params.size()});
        return p11->C_GenerateKeyPair(session, &mechanism, pub.data(), pub.size(), extraPrivate.data(),
                                      extraPrivate.size(), &pair.publicKey, &pair.privateKey);
    }

    Bytes Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV expected = CKR_OK)
    {
        CK_ATTRIBUTE attribute{type, nullptr, 0};
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &attribute, 1), expected);
        if (expected != CKR_OK) return {};
        Bytes value(attribute.ulValueLen);
        attribute.pValue = value.data();
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &attribute, 1), CKR_OK);
        return value;
    }

    // The one object of the class with the label; CK_INVALID_HANDLE (and a failure) when there
    // is none or more than one.
    CK_OBJECT_HANDLE FindKey(CK_OBJECT_CLASS objectClass, const std::string& label)
    {
        CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                 {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_OBJECT_HANDLE found[2] = {CK_INVALID_HANDLE, CK_INVALID_HANDLE};
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjectsInit(session, search, 2), CKR_OK);
        EXPECT_EQ(p11->C_FindObjects(session, found, 2, &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        EXPECT_EQ(count, 1u) << label;
        return count == 1 ? found[0] : CK_INVALID_HANDLE;
    }

    bool Flag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        const Bytes value = Attribute(object, type);
        return value.size() == 1 && value[0] != 0;
    }

    CK_RV Sign(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data, Bytes& signature)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        CK_RV rv = p11->C_SignInit(session, &mechanism, key);
        if (rv != CKR_OK) return rv;
        CK_ULONG length = 0;
        rv = p11->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), nullptr, &length);
        if (rv != CKR_OK) return rv;
        signature.assign(length, 0);
        rv = p11->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length);
        signature.resize(length);
        return rv;
    }

    CK_RV Verify(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data, const Bytes& signature)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        const CK_RV rv = p11->C_VerifyInit(session, &mechanism, key);
        if (rv != CKR_OK) return rv;
        return p11->C_Verify(session, const_cast<uint8_t*>(data.data()), data.size(),
                             const_cast<uint8_t*>(signature.data()), signature.size());
    }

    // OpenSSL's verdict on r||s over the digest, with the key rebuilt from CKA_EC_POINT.
    bool OpenSslVerifies(const Curve& curve, CK_OBJECT_HANDLE publicKey, const Bytes& digest, const Bytes& rs)
    {
        const Bytes der = Attribute(publicKey, CKA_EC_POINT);
        const Bytes point(der.begin() + curve.pointHeader.size(), der.end());
        return tokensim::crypto::testing::EcdsaRawVerifies(curve.group, point, digest, rs);
    }

    uint64_t Commands() const
    {
        uint64_t total = 0;
        for (const auto& entry : rig->Control(0).Counters()) {
            if (entry.first != "total") total += entry.second;
        }
        return total;
    }

    CK_SESSION_HANDLE session = 0;
};

} // namespace ecdsatest
