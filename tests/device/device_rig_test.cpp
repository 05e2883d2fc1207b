// The device layer against the simulated token through the real pcscd.
#include <PCSC/pcsclite.h>
#include <PCSC/reader.h>
#include <PCSC/winscard.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/apdu.h"
#include "device/device_results.h"
#include "device/zr_plinq_token.h"
#include "rig_gtest.h"
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
    void SetUp() override { StartRig({}); }

    void StartRig(const std::vector<std::string>& extraOptions)
    {
        ZR_REQUIRE_RIG();
        RigOptions options;
        options.simulators = {{"--serial", "ZR0001", "--label", "Rig token", "--so-pin", "87654321", "--user-pin",
                               kUserPin}};
        options.simulators[0].insert(options.simulators[0].end(), extraOptions.begin(), extraOptions.end());
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

TEST_F(DeviceRigTest, KeyCommandsRoundTrip)
{
    ASSERT_EQ(token.OpenSession(session), 0u);
    ASSERT_EQ(token.Login(session, Data(kUserPin), kUserPin.size()), 0u);

    // DSTU 4145 on the 163-bit curve: 21-byte public key, 42-byte signature.
    uint8_t publicA[64], publicB[64];
    size_t lengthA = 54, lengthB = 54;
    ASSERT_EQ(token.GenerateKeyPair(session, DSTU4145_POLYNOMIAL_0, TokenObject, publicA, &lengthA, 180), 0u);
    ASSERT_EQ(token.GenerateKeyPair(session, DSTU4145_POLYNOMIAL_0, TokenObject, publicB, &lengthB, 182), 0u);
    EXPECT_EQ(lengthA, 21u);
    uint8_t hash[32];
    for (size_t i = 0; i < sizeof(hash); ++i) {
        hash[i] = static_cast<uint8_t>(i + 1);
    }
    uint8_t signature[64];
    size_t signatureLength = 0;
    ASSERT_EQ(token.GetSignature(session, 180, hash, sizeof(hash), nullptr, &signatureLength), 0u);
    EXPECT_EQ(signatureLength, 42u);
    ASSERT_EQ(token.GetSignature(session, 180, hash, sizeof(hash), signature, &signatureLength), 0u);
    EXPECT_EQ(token.VerifySignature(session, publicA, lengthA, DSTU4145_POLYNOMIAL_0, hash, sizeof(hash), signature,
                                    signatureLength), 0u);
    signature[0] ^= 1;
    EXPECT_EQ(token.VerifySignature(session, publicA, lengthA, DSTU4145_POLYNOMIAL_0, hash, sizeof(hash), signature,
                                    signatureLength), devrc::kBadSignature);

    // Key agreement gives both sides the same 32 bytes.
    uint8_t sbox[64], sharedInfo[27] = {0x30, 0x19};
    for (size_t i = 0; i < sizeof(sbox); ++i) {
        sbox[i] = static_cast<uint8_t>(i * 37);
    }
    uint8_t keyA[32], keyB[32];
    size_t keyLengthA = sizeof(keyA), keyLengthB = sizeof(keyB);
    ASSERT_EQ(token.GetCommonKey(session, 180, publicB, lengthB, 1, sbox, sizeof(sbox), 1, sharedInfo,
                                 sizeof(sharedInfo), keyA, &keyLengthA), 0u);
    ASSERT_EQ(token.GetCommonKey(session, 182, publicA, lengthA, 1, sbox, sizeof(sbox), 1, sharedInfo,
                                 sizeof(sharedInfo), keyB, &keyLengthB), 0u);
    EXPECT_EQ(keyLengthA, 32u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(keyA), 32), std::string(reinterpret_cast<char*>(keyB), 32));

    // Raw RSA 512: what the public key encrypts, the key slot decrypts.
    uint8_t rsaPublic[80];
    size_t rsaPublicLength = sizeof(rsaPublic);
    ASSERT_EQ(token.GenerateKeyPair(session, RSA_sign_512, TokenObject, rsaPublic, &rsaPublicLength, 181), 0u);
    EXPECT_EQ(rsaPublicLength, 71u);
    uint8_t plain[64] = {0x00, 0x02, 0x11, 0x22}, cipher[64], back[64];
    size_t cipherLength = sizeof(cipher), backLength = sizeof(back);
    ASSERT_EQ(token.Encrypt(session, rsaPublic, rsaPublicLength, RSA_sign_512, plain, sizeof(plain), cipher,
                            &cipherLength), 0u);
    ASSERT_EQ(token.Decrypt(session, 181, cipher, cipherLength, back, &backLength), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), backLength),
              std::string(reinterpret_cast<char*>(plain), sizeof(plain)));

    // A loaded private key signs; a blob of the wrong length is refused by the token.
    uint8_t blob[21] = {5};
    EXPECT_EQ(token.LoadKey(session, DSTU4145_POLYNOMIAL_0, TokenObject, blob, sizeof(blob), 183), 0u);
    signatureLength = sizeof(signature);
    EXPECT_EQ(token.GetSignature(session, 183, hash, sizeof(hash), signature, &signatureLength), 0u);
    EXPECT_EQ(token.LoadKey(session, DSTU4145_POLYNOMIAL_0, TokenObject, blob, 20, 183), 0x80090004u);
    EXPECT_EQ(token.DeleteFile(session, 183), 0u);
}

TEST_F(DeviceRigTest, PinCommandsRoundTrip)
{
    const std::string soPin = "87654321", newPin = "11223344";
    uint8_t word[4];
    size_t length = sizeof(word);
    ASSERT_EQ(token.GetAttr(AttrRandomLength, word, &length), 0u);
    const uint32_t randomLength = LoadLe32(word);
    ASSERT_LE(randomLength, 255u);
    const std::string random(randomLength, 'R');

    EXPECT_EQ(token.CheckSOPIN(Data(soPin), soPin.size()), 0u);
    EXPECT_EQ(token.SetMaxAuthCtr(Data(soPin), soPin.size(), 5), 0u);
    length = sizeof(word);
    ASSERT_EQ(token.GetAttr(AttrMaxUserPinTries, word, &length), 0u);
    EXPECT_EQ(LoadLe32(word), 5u);

    ASSERT_EQ(token.ChangeUserPIN(Data(kUserPin), kUserPin.size(), Data(newPin), newPin.size(), Data(random),
                                  random.size()), 0u);
    EXPECT_EQ(token.CheckUserPIN(Data(kUserPin), kUserPin.size()), devrc::kPinIncorrect);
    ASSERT_EQ(token.OpenSession(session), 0u);
    EXPECT_EQ(token.Login(session, Data(newPin), newPin.size()), 0u);
    EXPECT_EQ(token.InitUserPIN(Data(soPin), soPin.size(), Data(kUserPin), kUserPin.size()), 0u);
    EXPECT_EQ(token.CheckUserPIN(Data(kUserPin), kUserPin.size()), 0u);
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
    // A reader attribute read now reports the lost card, not "unsupported".
    uint8_t value[64];
    size_t length = sizeof(value);
    const uint32_t attrRc = token.GetSlotAttr(SCARD_ATTR_ATR_STRING, value, &length);
    EXPECT_NE(attrRc, 0u);
    EXPECT_NE(attrRc, static_cast<uint32_t>(SCARD_E_UNSUPPORTED_FEATURE)) << std::hex << attrRc;

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

// A card whose ATR offers only T=0 (no TD1): connecting asks for T=1, then T=0; a reset
// connection comes back the same way.
class DeviceRigT0Test : public DeviceRigTest {
protected:
    void SetUp() override { StartRig({"--atr", "3B 02 14 50"}); }
};

TEST_F(DeviceRigT0Test, ConnectsOnTheSecondProtocolAndReconnectsAfterReset)
{
    _TokenInfo_Struct info;
    ASSERT_EQ(token.GetTokenInfo(&info), 0u);
    EXPECT_EQ(Field(info.serialNumber, 16), Padded("ZR0001", 16));
    rig->ResetCard();
    EXPECT_EQ(token.GetTokenInfo(&info), kResetCard);
    ASSERT_EQ(token.Reopen(), 0u);
    EXPECT_EQ(token.GetTokenInfo(&info), 0u);
}

TEST_F(DeviceRigT0Test, AdoptedHandleKeepsTheProtocolItRuns)
{
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, rig->ReaderName(0).c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &handle,
                           &protocol),
              SCARD_S_SUCCESS);
    {
        ZrPlinqToken adopted;
        ASSERT_EQ(adopted.OpenByHandle(handle), 0u);
        _TokenInfo_Struct info;
        EXPECT_EQ(adopted.GetTokenInfo(&info), 0u);
    }
    SCardDisconnect(handle, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

// The longest ATR ISO 7816-3 allows, 33 bytes, is read whole.
class DeviceRigLongAtrTest : public DeviceRigTest {
protected:
    void SetUp() override
    {
        StartRig({"--atr", "3B FF 11 00 00 F1 01 00 00 F1 FE 45 00 71 00 00 00 80 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A "
                           "5A 5A A5"});
    }
};

TEST_F(DeviceRigLongAtrTest, CardStatusCarriesA33ByteAtr)
{
    tru::BufferDynamic reader, atr;
    uint32_t state = 0;
    ASSERT_EQ(token.ReadCardStatus(reader, &state, atr), 0u);
    EXPECT_EQ(atr.Size(), 33u);
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
