// Slot list, slot and token information, mechanisms, token initialisation.
#include <vector>

#include "module_fixture.h"

namespace {

class SlotTokenTest : public ModuleTest {
protected:
    std::vector<CK_SLOT_ID> SlotList(CK_BBOOL present) {
        CK_ULONG count = 0;
        EXPECT_EQ(CKR_OK, p11->C_GetSlotList(present, nullptr, &count));
        std::vector<CK_SLOT_ID> ids(count);
        EXPECT_EQ(CKR_OK, p11->C_GetSlotList(present, ids.data(), &count));
        ids.resize(count);
        return ids;
    }
};

TEST_F(SlotTokenTest, SlotListWithAndWithoutTokens) {
    Configure(3, 0b101);
    Initialize();
    EXPECT_EQ((std::vector<CK_SLOT_ID>{0, 1, 2}), SlotList(CK_FALSE));
    EXPECT_EQ((std::vector<CK_SLOT_ID>{0, 2}), SlotList(CK_TRUE));
    EXPECT_EQ((std::vector<CK_SLOT_ID>{0, 2}), SlotList(2));  // any non-zero byte means true
    module.removeToken(2);
    EXPECT_EQ((std::vector<CK_SLOT_ID>{0}), SlotList(CK_TRUE));
}

TEST_F(SlotTokenTest, ListRequestAfterASizeQueryReadsTheSlotsOnce) {
    Initialize();
    CK_SLOT_ID ids[4];
    CK_ULONG count = 4;
    ASSERT_EQ(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_EQ(1u, module.slotRefreshes());
    ASSERT_EQ(CKR_OK, p11->C_GetSlotList(CK_FALSE, ids, &count));
    EXPECT_EQ(1u, module.slotRefreshes());
    ASSERT_EQ(CKR_OK, p11->C_GetSlotList(CK_FALSE, ids, &count));
    EXPECT_EQ(2u, module.slotRefreshes());
}

TEST_F(SlotTokenTest, ShortSlotListKeepsTheFirstIdsAndReportsTheCount) {
    Configure(3, 0b111);
    Initialize();
    CK_SLOT_ID ids[1] = {99};
    CK_ULONG count = 1;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, p11->C_GetSlotList(CK_FALSE, ids, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(0u, ids[0]);
}

TEST_F(SlotTokenTest, SlotInfo) {
    Initialize();
    CK_SLOT_INFO info;
    ASSERT_EQ(CKR_OK, p11->C_GetSlotInfo(0, &info));
    EXPECT_EQ(CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE | CKF_HW_SLOT, info.flags);
    EXPECT_EQ("Fake reader 0", Trimmed(info.slotDescription, sizeof info.slotDescription));
    EXPECT_EQ(' ', info.slotDescription[63]);
    EXPECT_EQ("ZR Test", Trimmed(info.manufacturerID, sizeof info.manufacturerID));
    ASSERT_EQ(CKR_OK, p11->C_GetSlotInfo(1, &info));
    EXPECT_EQ(CKF_REMOVABLE_DEVICE | CKF_HW_SLOT, info.flags);
    EXPECT_EQ(CKR_SLOT_ID_INVALID, p11->C_GetSlotInfo(7, &info));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetSlotInfo(0, nullptr));
}

TEST_F(SlotTokenTest, TokenInfo) {
    Initialize();
    CK_TOKEN_INFO info = TokenInfo(0);
    EXPECT_EQ("Fake token", Trimmed(info.model, sizeof info.model));
    EXPECT_EQ(6u, info.ulMinPinLen);
    EXPECT_EQ(80u, info.ulMaxPinLen);
    EXPECT_EQ(0u, info.ulSessionCount);
    CK_SESSION_HANDLE rw = Open(0);
    Open(0, CKF_SERIAL_SESSION);
    info = TokenInfo(0);
    EXPECT_EQ(2u, info.ulSessionCount);
    EXPECT_EQ(1u, info.ulRwSessionCount);
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(rw));
    EXPECT_EQ(0u, TokenInfo(0).ulRwSessionCount);
    EXPECT_EQ(CKR_SLOT_ID_INVALID, p11->C_GetTokenInfo(7, &info));
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, p11->C_GetTokenInfo(1, &info));
}

TEST_F(SlotTokenTest, MechanismListAndInfo) {
    Initialize();
    CK_ULONG count = 0;
    ASSERT_EQ(CKR_OK, p11->C_GetMechanismList(0, nullptr, &count));
    ASSERT_EQ(9u, count);  // three digest-like mechanisms and six toys
    CK_MECHANISM_TYPE list[9] = {0};
    CK_ULONG shortCount = 2;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, p11->C_GetMechanismList(0, list, &shortCount));
    EXPECT_EQ(9u, shortCount);
    EXPECT_EQ(0u, list[0]);  // nothing written to a short list
    ASSERT_EQ(CKR_OK, p11->C_GetMechanismList(0, list, &count));
    EXPECT_EQ(CKM_SHA_1, list[0]);
    EXPECT_EQ(CKM_SHA_1_HMAC, list[2]);
    CK_MECHANISM_INFO info;
    ASSERT_EQ(CKR_OK, p11->C_GetMechanismInfo(0, CKM_SHA_1_HMAC, &info));
    EXPECT_EQ(16u, info.ulMinKeySize);
    EXPECT_EQ(64u, info.ulMaxKeySize);
    EXPECT_EQ(CKF_SIGN | CKF_VERIFY, info.flags);
    EXPECT_EQ(CKR_MECHANISM_INVALID, p11->C_GetMechanismInfo(0, CKM_RSA_PKCS, &info));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_GetMechanismList(0, list, nullptr));
}

TEST_F(SlotTokenTest, MechanismsNeedAnInitializedUserPin) {
    Configure(1, 1, 100, 100, false, false);
    Initialize();
    CK_ULONG count = 0;
    CK_MECHANISM_INFO info;
    EXPECT_EQ(CKR_USER_PIN_NOT_INITIALIZED, p11->C_GetMechanismList(0, nullptr, &count));
    EXPECT_EQ(CKR_USER_PIN_NOT_INITIALIZED, p11->C_GetMechanismInfo(0, CKM_SHA_1, &info));
}

TEST_F(SlotTokenTest, InitToken) {
    Initialize();
    CK_UTF8CHAR label[32];
    std::fill(std::begin(label), std::end(label), ' ');
    label[0] = 'N';
    std::string so = ZR_FAKE_SO_PIN;
    auto* soPin = reinterpret_cast<CK_UTF8CHAR_PTR>(&so[0]);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_InitToken(0, nullptr, 8, label));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_InitToken(0, soPin, 8, nullptr));
    CK_SESSION_HANDLE session = Open(0);
    EXPECT_EQ(CKR_SESSION_EXISTS, p11->C_InitToken(0, soPin, 8, label));
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(session));
    EXPECT_EQ(CKR_PIN_LEN_RANGE, p11->C_InitToken(0, soPin, 5, label));
    EXPECT_EQ(CKR_OK, p11->C_InitToken(0, soPin, 8, label));
    EXPECT_EQ("N", Trimmed(TokenInfo(0).label, 32));
}

}  // namespace
