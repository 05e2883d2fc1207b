// DSTU 4145 through the Cryptoki functions of the token library loaded as an application loads
// it, with the real pcscd and the simulated token: a user session and small call helpers.
#pragma once

#include "module_rig_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dstue2e {

using Bytes = std::vector<uint8_t>;
using librarytest::kUserPin;

struct Curve {
    const char* name;
    const char* oid;  // the named curve's identifier, also the label of its domain-parameter object
    uint8_t paramSet;
    CK_ULONG signatureSize;
    size_t keySize;  // bytes of a private value (half a signature)
};

const Curve kCurves[] = {
    {"m163", "1.2.804.2.1.1.1.1.3.1.1.2.0", 9, 42, 21},
    {"m191", "1.2.804.2.1.1.1.1.3.1.1.2.4", 10, 48, 24},
    {"m257", "1.2.804.2.1.1.1.1.3.1.1.2.6", 11, 64, 32},
    {"m431", "1.2.804.2.1.1.1.1.3.1.1.2.9", 12, 108, 54},
};

struct KeyPair {
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
};

class DstuE2eTest : public librarytest::ModuleRigTest {
protected:
    void SetUp() override
    {
        Start();
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

    // Handles of the objects matching the template.
    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE> search)
    {
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjectsInit(session, search.data(), search.size()), CKR_OK);
        EXPECT_EQ(p11->C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        found.resize(count);
        return found;
    }

    CK_OBJECT_HANDLE FindKey(CK_OBJECT_CLASS objectClass, const std::string& label)
    {
        CK_KEY_TYPE keyType = CKK_DSTU4145;
        const std::vector<CK_OBJECT_HANDLE> found = Find({{CKA_CLASS, &objectClass, sizeof objectClass},
                                                          {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                                          {CKA_LABEL, const_cast<char*>(label.data()), label.size()}});
        EXPECT_EQ(found.size(), 1u) << label;
        return found.empty() ? CK_INVALID_HANDLE : found[0];
    }

    // CKA_EC_PARAMS of the token's domain-parameter object of the curve.
    Bytes CurveParams(const Curve& curve)
    {
        CK_OBJECT_CLASS objectClass = CKO_DOMAIN_PARAMETERS;
        CK_KEY_TYPE keyType = CKK_DSTU4145;
        const std::vector<CK_OBJECT_HANDLE> found =
            Find({{CKA_CLASS, &objectClass, sizeof objectClass},
                  {CKA_KEY_TYPE, &keyType, sizeof keyType},
                  {CKA_LABEL, const_cast<char*>(curve.oid), std::strlen(curve.oid)}});
        EXPECT_EQ(found.size(), 1u) << curve.oid;
        return found.empty() ? Bytes() : Attribute(found[0], CKA_EC_PARAMS);
    }

    KeyPair Generate(const Bytes& params, const std::string& label, bool derive = false)
    {
        CK_BBOOL yes = CK_TRUE;
        CK_BBOOL canDerive = derive ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, const_cast<uint8_t*>(params.data()), params.size()},
                                         {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                          {CKA_TOKEN, &yes, sizeof yes},
                                          {CKA_DERIVE, &canDerive, sizeof canDerive}};
        CK_MECHANISM mechanism{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        KeyPair pair;
        EXPECT_EQ(p11->C_GenerateKeyPair(session, &mechanism, publicTemplate, 2, privateTemplate, 3, &pair.publicKey,
                                         &pair.privateKey),
                  CKR_OK);
        return pair;
    }

    CK_OBJECT_HANDLE Create(std::vector<CK_ATTRIBUTE> attributes)
    {
        CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
        EXPECT_EQ(p11->C_CreateObject(session, attributes.data(), attributes.size(), &handle), CKR_OK);
        return handle;
    }

    // C_GetAttributeValue of one attribute; empty when it fails (its code in *rv).
    Bytes Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV* rv = nullptr)
    {
        Bytes value(1024);
        CK_ATTRIBUTE record{type, value.data(), value.size()};
        const CK_RV result = p11->C_GetAttributeValue(session, object, &record, 1);
        if (rv != nullptr) *rv = result;
        value.resize(result == CKR_OK ? record.ulValueLen : 0);
        return value;
    }

    // A Boolean attribute: 1 true, 0 false, -1 unreadable.
    int Flag(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        const Bytes value = Attribute(object, type);
        return value.size() == 1 ? (value[0] != CK_FALSE ? 1 : 0) : -1;
    }

    // C_SignInit, the length query, then the signature.
    Bytes Sign(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, Bytes data, CK_ULONG* queried = nullptr)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        EXPECT_EQ(p11->C_SignInit(session, &mechanism, key), CKR_OK);
        CK_ULONG length = 0;
        EXPECT_EQ(p11->C_Sign(session, data.data(), data.size(), nullptr, &length), CKR_OK);
        if (queried != nullptr) *queried = length;
        Bytes signature(length);
        EXPECT_EQ(p11->C_Sign(session, data.data(), data.size(), signature.data(), &length), CKR_OK);
        signature.resize(length);
        return signature;
    }

    CK_RV Verify(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, Bytes data, Bytes signature)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        const CK_RV rv = p11->C_VerifyInit(session, &mechanism, key);
        if (rv != CKR_OK) return rv;
        return p11->C_Verify(session, data.data(), data.size(), signature.data(), signature.size());
    }

    uint64_t Count(const char* command) const { return rig->Control(0).Count(command); }

    CK_SESSION_HANDLE session = 0;
};

} // namespace dstue2e
