// The token library's C_ functions in this process, through the real pcscd and the simulated
// token, with the DSTU 4145 rows in the token's tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cryptoki/library_frame.h"
#include "ckbase/zr_pkcs11.h"
#include "driver/qel_library.h"
#include "national/ua_sgn_token_rows.h"
#include "national/ua_sgn_util.h"
#include "rig_gtest.h"

namespace librarytest {

class CryptokiRigTest : public ::testing::Test {
public:
    static constexpr const char* kUserPin = "12345678";

protected:
    void SetUp() override {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = {{"--serial", "ZRHARDEN00000001", "--so-pin", "87654321", "--user-pin", kUserPin}};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &qel::Library::Create;
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(C_Initialize(&args), CKR_OK);
        initialized = true;
        CK_ULONG count = 1;
        ASSERT_EQ(C_GetSlotList(CK_TRUE, &slotId, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
        session = OpenSession();
        ASSERT_EQ(Login(session), CKR_OK);
    }

    void TearDown() override {
        if (initialized) C_Finalize(nullptr);
        rig.reset();
    }

    CK_SESSION_HANDLE OpenSession() {
        CK_SESSION_HANDLE handle = 0;
        EXPECT_EQ(C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &handle), CKR_OK);
        return handle;
    }

    static CK_RV Login(CK_SESSION_HANDLE handle) {
        return C_Login(handle, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(kUserPin)), 8);
    }

    // A token data object with this label and value; private ones need the user logged in.
    static CK_RV CreateData(CK_SESSION_HANDLE handle, const std::string& label, const std::string& value,
                            bool isPrivate, CK_OBJECT_HANDLE* created) {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_BBOOL yes = CK_TRUE;
        CK_BBOOL privateFlag = isPrivate ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                                     {CKA_TOKEN, &yes, sizeof yes},
                                     {CKA_PRIVATE, &privateFlag, sizeof privateFlag},
                                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                     {CKA_VALUE, const_cast<char*>(value.data()), value.size()}};
        return C_CreateObject(handle, attributes, 5, created);
    }

    // Handles of the objects of that class whose label matches (all of the class when empty).
    static CK_RV Find(CK_SESSION_HANDLE handle, CK_OBJECT_CLASS objectClass, const std::string& label,
                      std::vector<CK_OBJECT_HANDLE>& found) {
        found.clear();
        CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                 {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_RV rv = C_FindObjectsInit(handle, search, label.empty() ? 1 : 2);
        if (rv != CKR_OK) return rv;
        CK_OBJECT_HANDLE batch[16];
        CK_ULONG count = 0;
        do {
            rv = C_FindObjects(handle, batch, 16, &count);
            found.insert(found.end(), batch, batch + (rv == CKR_OK ? count : 0));
        } while (rv == CKR_OK && count == 16);
        const CK_RV final = C_FindObjectsFinal(handle);
        return rv != CKR_OK ? rv : final;
    }

    // A DSTU 4145 key pair on the token (m = 257) under the label.
    static CK_RV GenerateSigningKey(CK_SESSION_HANDLE handle, const std::string& label, CK_OBJECT_HANDLE* privateKey) {
        // Naming the tables links them in: the mechanism is unknown without them.
        if (!qel::UASgnTokenTablesRegistered()) return CKR_GENERAL_ERROR;
        const tru::Buffer& oid = qel::UA_SGN_PARAMSET_6_OID_DKE1_VALUE;
        std::vector<uint8_t> params(oid.Data(), oid.Data() + oid.Size());
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, params.data(), params.size()},
                                         {CKA_TOKEN, &yes, sizeof yes},
                                         {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                          {CKA_TOKEN, &yes, sizeof yes},
                                          {CKA_PRIVATE, &yes, sizeof yes}};
        CK_MECHANISM generation{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE publicKey = 0;
        return C_GenerateKeyPair(handle, &generation, publicTemplate, 3, privateTemplate, 3, &publicKey, privateKey);
    }

    // A GOST 34.311 + DSTU 4145 signature of a short document; the result of the first failing call.
    static CK_RV Sign(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE privateKey) {
        CK_MECHANISM hashed{CKM_GOST34311_DSTU4145, nullptr, 0};
        CK_RV rv = C_SignInit(handle, &hashed, privateKey);
        if (rv != CKR_OK) return rv;
        CK_BYTE document[] = "a document";
        CK_BYTE signature[128];
        CK_ULONG length = sizeof signature;
        return C_Sign(handle, document, sizeof document - 1, signature, &length);
    }

    // Every command the token answered so far.
    uint64_t TotalCommands() const {
        uint64_t total = 0;
        for (const auto& entry : rig->Control(0).Counters()) {
            if (entry.first != "total") total += entry.second;
        }
        return total;
    }

    std::unique_ptr<tokensim::rig::Rig> rig;
    bool initialized = false;
    CK_SLOT_ID slotId = 0;
    CK_SESSION_HANDLE session = 0;
};

}  // namespace librarytest
