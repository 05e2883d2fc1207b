// The token library loaded as an application loads it, in a rig with one token of each model
// (full, then lite), and the Cryptoki calls the host cryptography tests make.
#pragma once

#include <string>
#include <vector>

#include "module_rig_fixture.h"

namespace librarytest {

using librarytest::kSoPin;
using librarytest::kUserPin;

constexpr const char* kFullSerial = "ZRSWFULL00000001";
constexpr const char* kLiteSerial = "ZRSWLITE00000001";

inline std::vector<std::string> Token(const char* serial, bool lite)
{
    std::vector<std::string> options = {"--serial", serial, "--so-pin", kSoPin, "--user-pin", kUserPin};
    if (lite) options.insert(options.end(), {"--model", "lite"});
    return options;
}

inline std::string Bytes(const void* data, size_t size)
{
    return std::string(static_cast<const char*>(data), size);
}

inline CK_BYTE_PTR In(const std::string& bytes)
{
    return reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(bytes.data()));
}

class HostCryptoRig : public librarytest::ModuleRigTest {
protected:
    // Both models; the slot of each found by its serial number.
    void StartBoth()
    {
        Start(nullptr, {Token(kFullSerial, false), Token(kLiteSerial, true)});
        if (IsSkipped() || HasFatalFailure()) return;
        CK_SLOT_ID slots[8];
        CK_ULONG count = 8;
        ASSERT_EQ(p11->C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_TOKEN_INFO info{};
            ASSERT_EQ(p11->C_GetTokenInfo(slots[i], &info), CKR_OK);
            const std::string serial = librarytest::Field(info.serialNumber, sizeof info.serialNumber);
            if (serial.find(kFullSerial) == 0) fullSlot = slots[i];
            if (serial.find(kLiteSerial) == 0) liteSlot = slots[i];
        }
        ASSERT_NE(fullSlot, liteSlot);
    }

    std::vector<CK_MECHANISM_TYPE> Mechanisms(CK_SLOT_ID slot)
    {
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_GetMechanismList(slot, nullptr, &count), CKR_OK);
        std::vector<CK_MECHANISM_TYPE> list(count);
        EXPECT_EQ(p11->C_GetMechanismList(slot, list.data(), &count), CKR_OK);
        list.resize(count);
        return list;
    }

    // One-part digest (a length query first, which must keep the operation).
    std::string Digest(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE type, const std::string& data)
    {
        CK_MECHANISM mechanism{type, nullptr, 0};
        EXPECT_EQ(p11->C_DigestInit(session, &mechanism), CKR_OK);
        CK_ULONG length = 0;
        EXPECT_EQ(p11->C_Digest(session, In(data), data.size(), nullptr, &length), CKR_OK);
        std::string out(length, '\0');
        EXPECT_EQ(p11->C_Digest(session, In(data), data.size(), In(out), &length), CKR_OK);
        out.resize(length);
        return out;
    }

    CK_SLOT_ID fullSlot = 0;
    CK_SLOT_ID liteSlot = 0;
};

}  // namespace librarytest
