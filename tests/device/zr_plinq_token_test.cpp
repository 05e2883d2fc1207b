#include "device/zr_plinq_token.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/device_results.h"
#include "device/media_zrsc.h"
#include "scripted_card.h"

using namespace devtest;

namespace {

std::string Text(const uint8_t* field, size_t width)
{
    return std::string(reinterpret_cast<const char*>(field), width);
}

std::string AttributeAnswer(const std::string& value)
{
    return "01 00 " + ToHex(Bytes{static_cast<uint8_t>(value.size())}) + " " +
           ToHex(reinterpret_cast<const uint8_t*>(value.data()), value.size()) + " 90 00";
}

class ZrPlinqTokenTest : public ::testing::Test {
protected:
    ZrPlinqTokenTest() : token(std::make_unique<MediaZrSC>(card.MakeDevice())) { std::memset(&info, 0xEE, sizeof(info)); }

    ScriptedCard card;
    ZrPlinqToken token;
    _TokenInfo_Struct info;
};

TEST_F(ZrPlinqTokenTest, TokenInfoPadsTextAndSplitsVersionAndFlags)
{
    card.Queue(AttributeAnswer("Token"));
    card.Queue(AttributeAnswer("Maker"));
    card.Queue(AttributeAnswer("Model-2"));
    card.Queue(AttributeAnswer("0123456789ABCDEF"));
    card.Queue("01 00 04 04 00 0F 04 90 00");  // version word, bytes in wire order
    card.Queue("01 00 04 00 01 04 00 90 00");  // flags: bits 8 and 18
    ASSERT_EQ(token.GetTokenInfo(&info), 0u);

    EXPECT_EQ(Text(info.label, 32), "Token" + std::string(27, ' '));
    EXPECT_EQ(Text(info.manufacturerID, 32), "Maker" + std::string(27, ' '));
    EXPECT_EQ(Text(info.model, 16), "Model-2" + std::string(9, ' '));
    EXPECT_EQ(Text(info.serialNumber, 16), "0123456789ABCDEF");
    EXPECT_EQ(info.versionMajor, 4);
    EXPECT_EQ(info.versionMinor, 15);
    EXPECT_EQ(info.tokenInitialized, 1);
    EXPECT_EQ(info.userPinInitialized, 0);
    EXPECT_EQ(info.userPinCountLow, 0);
    EXPECT_EQ(info.userPinFinalTry, 0);
    EXPECT_EQ(info.userPinLocked, 1);

    const std::string attributes[] = {"00", "05", "03", "01", "07", "08"};
    ASSERT_EQ(card.sent.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(card.SentHex(i), Hex("81 00 00 00 03 01 10 " + attributes[i] + " 00 16 05"));
    }
}

TEST_F(ZrPlinqTokenTest, TokenInfoStopsAtTheFirstFailingAttribute)
{
    card.Queue(AttributeAnswer(std::string(40, 'L')));
    EXPECT_EQ(token.GetTokenInfo(&info), devrc::kSize);
    EXPECT_EQ(card.sent.size(), 1u);
    EXPECT_EQ(info.manufacturerID[0], 0xEE);
    EXPECT_EQ(info.versionMajor, 0xEE);

    // A short flags word keeps its missing high bytes 0.
    card.sent.clear();
    for (const char* v : {"L", "M", "D", "S"}) {
        card.Queue(AttributeAnswer(v));
    }
    card.Queue("01 00 04 00 00 0F 05 90 00");
    card.Queue("01 00 02 00 03 90 00");
    ASSERT_EQ(token.GetTokenInfo(&info), 0u);
    EXPECT_EQ(info.tokenInitialized, 1);
    EXPECT_EQ(info.userPinInitialized, 1);
    EXPECT_EQ(info.userPinLocked, 0);

    card.Queue("01 29 90 00");
    EXPECT_EQ(token.GetTokenInfo(&info), devrc::kInvalidSession);
}

TEST(ZrPlinqTokenFacadeTest, FailuresBelowBecomeResultCodes)
{
    ZrPlinqToken token;
    uint8_t session[32] = {};
    EXPECT_EQ(token.OpenSession(session), devrc::kNoDevice);
    EXPECT_EQ(token.Reopen(), devrc::kNoDevice);
    uint32_t size = 7;
    EXPECT_EQ(token.GetFileSize(session, 1, &size), devrc::kNoDevice);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(token.Close(), 0u);
    EXPECT_EQ(token.ExportPublicKey(session, 1, nullptr, nullptr, nullptr), devrc::kNotSupported);
}

TEST(ZrPlinqTokenFacadeTest, ArgumentsReachTheMediumInItsOrder)
{
    ScriptedCard card;
    ZrPlinqToken token(std::make_unique<MediaZrSC>(card.MakeDevice()));
    const Bytes session = SessionBytes();
    const Bytes key = FromHex("AA"), data = FromHex("BB"), signature = FromHex("CC");
    EXPECT_EQ(token.VerifySignature(session.data(), key.data(), 1, DSTU4145_POLYNOMIAL_0, data.data(), 1,
                                    signature.data(), 1), 0u);
    EXPECT_EQ(card.SentHex(0), Hex("81 00 00 00 2C 01 A5" + ToHex(session) + "09 01 00 AA 01 00 CC 01 00 BB 00 16 05"));

    card.Queue("01 00 01 00 EE 90 00");
    uint8_t out[8];
    size_t length = sizeof(out);
    EXPECT_EQ(token.Encrypt(session.data(), key.data(), 1, DSA_ECP_SECP256R1, data.data(), 1, out, &length), 0u);
    EXPECT_EQ(card.SentHex(1), Hex("81 00 00 00 2B 01 A8" + ToHex(session) + "0F 01 00 AA 01 00 BB 00 00 00 16 05"));

    EXPECT_EQ(token.LoadKey(session.data(), RSA_sign_1024, TokenObject, key.data(), 1, 0xB6), 0u);
    EXPECT_EQ(card.SentHex(2), Hex("81 00 00 00 27 01 B0" + ToHex(session) + "06 01 00 AA B6 00 16 05"));
}

}  // namespace

namespace {

// Without a PC/SC service (see no_pcscd.cpp) the failed context set-up comes back as the PC/SC
// code instead of an exception.
TEST(ZrPlinqTokenNoServiceTest, ReaderOperationsReturnTheContextFailure)
{
    ZrPlinqToken token;
    uint32_t count = 5;
    EXPECT_EQ(token.GetAmount(&count), 0x8010001Du);
    EXPECT_EQ(count, 5u);
    std::string name;
    EXPECT_EQ(token.GetReaderName(0, name), 0x8010001Du);
    EXPECT_EQ(token.Open(0, SCARD_SHARE_SHARED), 0x8010001Du);
}

}  // namespace
