// The device layer against the simulated token through the real pcscd.
#include <PCSC/pcsclite.h>
#include <PCSC/reader.h>
#include <PCSC/winscard.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/device_results.h"
#include "device/zr_plinq_token.h"
#include "rig.h"
#include "tru2/buffer.h"

using tokensim::rig::Rig;
using tokensim::rig::RigOptions;

namespace {

constexpr uint32_t kNoSmartCard = 0x8010000C;
constexpr uint32_t kResetCard = 0x80100068;
const std::string kUserPin = "12345678";

std::string Field(const uint8_t* field, size_t width)
{
    return std::string(reinterpret_cast<const char*>(field), width);
}

std::string Padded(const std::string& text, size_t width)
{
    return text + std::string(width - text.size(), ' ');
}

const uint8_t* Data(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

class DeviceRigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string why = Rig::WhyUnavailable();
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        RigOptions options;
        options.simulators = {{"--serial", "ZR0001", "--label", "Rig token", "--so-pin", "87654321", "--user-pin",
                               kUserPin}};
        rig = std::make_unique<Rig>(options);
        ASSERT_EQ(OpenRigReader(token), 0u);
    }

    // Opens the reader that holds the simulated card (vpcd lists more readers than cards).
    uint32_t OpenRigReader(ZrPlinqToken& t)
    {
        uint32_t count = 0;
        uint32_t rc = t.GetAmount(&count);
        for (uint32_t i = 0; rc == 0 && i < count; ++i) {
            std::string name;
            rc = t.GetReaderName(i, name);
            if (rc == 0 && name == rig->ReaderName(0)) {
                return t.Open(i, SCARD_SHARE_SHARED);
            }
        }
        return rc != 0 ? rc : kNoSmartCard;
    }

    std::unique_ptr<Rig> rig;
    ZrPlinqToken token;
    uint8_t session[32] = {};
};

TEST_F(DeviceRigTest, ListsReadersAndRefusesAnIndexBeyondThem)
{
    uint32_t count = 0;
    ASSERT_EQ(token.GetAmount(&count), 0u);
    ASSERT_GE(count, 1u);
    std::string name;
    EXPECT_EQ(token.GetReaderName(count, name), kNoSmartCard);
    EXPECT_EQ(token.Open(count, SCARD_SHARE_SHARED), kNoSmartCard);

    tru::BufferDynamic reader, atr;
    uint32_t state = 0;
    ASSERT_EQ(token.ReadCardStatus(reader, &state, atr), 0u);
    EXPECT_GT(atr.Size(), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.Data())).substr(0, rig->ReaderName(0).size()),
              rig->ReaderName(0));
}

TEST_F(DeviceRigTest, TokenInfoSessionsAndLogin)
{
    _TokenInfo_Struct info;
    ASSERT_EQ(token.GetTokenInfo(&info), 0u);
    EXPECT_EQ(Field(info.serialNumber, 16), Padded("ZR0001", 16));
    EXPECT_EQ(Field(info.label, 32), Padded("Rig token", 32));
    EXPECT_EQ(info.versionMajor, 5);
    EXPECT_EQ(info.versionMinor, 15);
    EXPECT_EQ(info.tokenInitialized, 1);
    EXPECT_EQ(info.userPinInitialized, 1);
    EXPECT_EQ(info.userPinLocked, 0);

    ASSERT_EQ(token.OpenSession(session), 0u);
    uint32_t state = 0xFFFF;
    ASSERT_EQ(token.GetSessionState(session, &state), 0u);
    EXPECT_EQ(state & kSessionStateUserLoggedIn, 0u);
    const std::string wrong = "00000000";
    EXPECT_EQ(token.Login(session, Data(wrong), wrong.size()), devrc::kPinIncorrect);
    ASSERT_EQ(token.Login(session, Data(kUserPin), kUserPin.size()), 0u);
    ASSERT_EQ(token.GetSessionState(session, &state), 0u);
    EXPECT_NE(state & kSessionStateUserLoggedIn, 0u);
    EXPECT_EQ(token.CheckUserPIN(Data(kUserPin), kUserPin.size()), 0u);

    uint8_t random[64] = {};
    uint8_t zero[64] = {};
    ASSERT_EQ(token.GetRandom(session, random, sizeof(random), nullptr, 0), 0u);
    EXPECT_NE(std::memcmp(random, zero, sizeof(random)), 0);

    EXPECT_EQ(token.Logout(session), 0u);
    EXPECT_EQ(token.CloseSession(session), 0u);
    EXPECT_EQ(token.GetSessionState(session, &state), devrc::kInvalidSession);
}

TEST_F(DeviceRigTest, FilesRoundTripInChunks)
{
    ASSERT_EQ(token.OpenSession(session), 0u);
    const uint8_t file = 0x10;
    std::string content(400, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 13);
    }
    ASSERT_EQ(token.CreateFile(session, file, TokenObject), 0u);
    EXPECT_EQ(token.CreateFile(session, file, TokenObject), devrc::kFileExists);
    ASSERT_EQ(token.WriteFile(session, file, 0, Data(content), content.size()), 0u);

    uint32_t size = 0;
    ASSERT_EQ(token.GetFileSize(session, file, &size), 0u);
    EXPECT_EQ(size, content.size());
    std::string back(content.size(), '\0');
    size_t length = back.size();
    ASSERT_EQ(token.ReadFile(session, file, reinterpret_cast<uint8_t*>(&back[0]), &length), 0u);
    EXPECT_EQ(length, content.size());
    EXPECT_EQ(back, content);

    bool exists = false;
    ASSERT_EQ(token.DeleteFile(session, file), 0u);
    EXPECT_EQ(token.IsFileExists(session, file, &exists), 0u);
    EXPECT_FALSE(exists);
    EXPECT_EQ(token.ReadFile(session, file, reinterpret_cast<uint8_t*>(&back[0]), &length), devrc::kFileNotFound);
    EXPECT_EQ(token.DeleteFile(session, file), 0u);
}

TEST_F(DeviceRigTest, TokenStatusesAndMalformedAnswersBecomeResultCodes)
{
    const struct {
        uint8_t status;
        uint32_t expected;
    } statuses[] = {{41, 1312}, {32, 0x8010002A}, {31, 0x8010006C}, {18, 0x80090006}, {105, 2}, {8, 31}, {111, 31}};
    for (const auto& c : statuses) {
        rig->Control().ForceStatus(c.status, 1);
        EXPECT_EQ(token.SetResponseDelay(0), c.expected) << "status " << int(c.status);
    }
    const struct {
        const char* kind;
        uint32_t expected;
    } malformed[] = {{"sw-only", 31}, {"bad-marker", 22}, {"bad-sw", 22}, {"truncated", 31}};
    for (const auto& c : malformed) {
        rig->Control().Malformed(c.kind, 1);
        size_t length = 16;
        uint8_t serial[16];
        EXPECT_EQ(token.GetAttr(AttrSerialNumber, serial, &length), c.expected) << c.kind;
    }
    // The connection is still usable afterwards.
    EXPECT_EQ(token.SetResponseDelay(0), 0u);
}

TEST_F(DeviceRigTest, ResetIsReportedAndReopenLetsTheCommandBeRepeated)
{
    ASSERT_EQ(token.OpenSession(session), 0u);
    rig->ResetCard();
    uint32_t state = 0;
    ASSERT_EQ(token.GetSessionState(session, &state), kResetCard);
    ASSERT_EQ(token.Reopen(), 0u);
    EXPECT_EQ(token.GetSessionState(session, &state), 0u);
    EXPECT_EQ(token.CloseSession(session), 0u);
}

TEST_F(DeviceRigTest, CardRemovalFailsCommandsUntilANewConnection)
{
    ASSERT_EQ(token.OpenSession(session), 0u);
    rig->RemoveCard();
    uint32_t state = 0;
    const uint32_t rc = token.GetSessionState(session, &state);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(rc & 0xFFFF0000u, 0x80100000u) << std::hex << rc;  // a PC/SC code, not a token status

    rig->InsertCard();
    ZrPlinqToken again;
    ASSERT_EQ(OpenRigReader(again), 0u);
    EXPECT_EQ(again.OpenSession(session), 0u);
}

TEST_F(DeviceRigTest, SecondConnectionSharesTheTokenAndItsSessions)
{
    ZrPlinqToken second;
    ASSERT_EQ(OpenRigReader(second), 0u);
    ASSERT_EQ(token.OpenSession(session), 0u);
    const std::string content = "shared";
    ASSERT_EQ(token.CreateFile(session, 0x11, TokenObject), 0u);
    ASSERT_EQ(token.WriteFile(session, 0x11, 0, Data(content), content.size()), 0u);

    ASSERT_EQ(second.BeginTransaction(), 0u);
    uint8_t back[16] = {};
    size_t length = sizeof(back);
    EXPECT_EQ(second.ReadFile(session, 0x11, back, &length), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), length), content);
    EXPECT_EQ(second.EndTransaction(), 0u);
}

TEST_F(DeviceRigTest, AdoptedApplicationHandleIsNeverReleased)
{
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, rig->ReaderName(0).c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle,
                           &protocol),
              SCARD_S_SUCCESS);
    {
        ZrPlinqToken adopted;
        ASSERT_EQ(adopted.OpenByHandle(handle), 0u);
        SCARDHANDLE back = 0;
        EXPECT_EQ(adopted.GetHandle(&back), 0u);
        EXPECT_EQ(back, handle);
        _TokenInfo_Struct info;
        EXPECT_EQ(adopted.GetTokenInfo(&info), 0u);
    }
    DWORD state = 0, atrLength = MAX_ATR_SIZE, readerLength = 0;
    BYTE atr[MAX_ATR_SIZE];
    EXPECT_EQ(SCardStatus(handle, nullptr, &readerLength, &state, &protocol, atr, &atrLength), SCARD_S_SUCCESS);
    SCardDisconnect(handle, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

// vpcd offers no reader attribute, and pcscd answers the friendly name (0x7FFF0003) with
// SCARD_E_INSUFFICIENT_BUFFER even for 256 bytes: every such failure must read "unsupported".
TEST_F(DeviceRigTest, ReaderAttributesAnswerOrSayUnsupported)
{
    tru::BufferDynamic reader, atr;
    uint32_t state = 0;
    ASSERT_EQ(token.ReadCardStatus(reader, &state, atr), 0u);
    uint8_t value[256];
    for (uint32_t attribute : {uint32_t(SCARD_ATTR_ATR_STRING), 0x10103u, 0x10102u, 0x10100u, 0x7FFF0003u}) {
        size_t length = sizeof(value);
        const uint32_t rc = token.GetSlotAttr(attribute, value, &length);
        EXPECT_TRUE(rc == 0 || rc == static_cast<uint32_t>(SCARD_E_UNSUPPORTED_FEATURE))
            << std::hex << attribute << ": " << rc;
        if (rc == 0 && attribute == SCARD_ATTR_ATR_STRING) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(value), length),
                      std::string(reinterpret_cast<const char*>(atr.Data()), atr.Size()));
        }
    }
    // The connection is unaffected.
    _TokenInfo_Struct info;
    EXPECT_EQ(token.GetTokenInfo(&info), 0u);
}

}  // namespace
