#include "device/media_zrsc.h"

#include <gtest/gtest.h>

#include <functional>

#include "device/device_results.h"
#include "scripted_card.h"
#include "tru2/exception.h"

using namespace devtest;

namespace {

const Bytes kSession = SessionBytes();

class MediaZrSCTest : public ::testing::Test {
protected:
    MediaZrSCTest() : media(card.MakeDevice()) {}

    ScriptedCard card;
    MediaZrSC media;
    const uint8_t* session = kSession.data();
};

TEST_F(MediaZrSCTest, GenerateKeyPairNegotiatesTheKeySizeBeforeSending)
{
    uint8_t out[300];
    size_t length = 200;
    EXPECT_EQ(media.GenerateKeyPair(session, RSA_sign_2048, 0xB4, TokenObject, out, &length), devrc::kSize);
    EXPECT_EQ(length, 263u);
    length = 0;
    EXPECT_EQ(media.GenerateKeyPair(session, RSA_sign_2048, 0xB4, TokenObject, nullptr, &length), 0u);
    EXPECT_EQ(length, 263u);
    length = sizeof(out);
    EXPECT_EQ(media.GenerateKeyPair(session, GostR3410_2001_ExchgParamSetA, 0xB4, TokenObject, out, &length),
              devrc::kBadParamSet);
    EXPECT_TRUE(card.sent.empty());

    // With room, the token is asked for exactly the parameter set's size and the length follows its answer.
    length = sizeof(out);
    card.Queue("01 00 36 00 " + ToHex(Bytes(54, 0x77)) + " 90 00");
    EXPECT_EQ(media.GenerateKeyPair(session, DSTU4145_POLYNOMIAL_6, 0xB4, NotKeptObject, out, &length), 0u);
    EXPECT_EQ(length, 54u);
    ASSERT_EQ(card.sent.size(), 1u);
    EXPECT_EQ(card.sent[0][6], 0xA2);
}

TEST_F(MediaZrSCTest, PublicKeySizesFollowTheParameterSet)
{
    const struct {
        int paramSet;
        size_t size;
    } cases[] = {{1, 64},  {2, 64},  {3, 64},  {4, 0},   {5, 0},   {6, 135}, {7, 199},  {8, 263}, {9, 54},
                 {10, 54}, {11, 54}, {12, 54}, {13, 71}, {14, 49}, {15, 65}, {16, 133}, {0, 0},   {17, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(MediaZrSC::PublicKeySize(static_cast<EParamSet>(c.paramSet)), c.size) << c.paramSet;
    }
}

TEST_F(MediaZrSCTest, MissingFilesAreNotFailuresExceptForReading)
{
    const std::string notFound = "01 69 90 00";
    uint8_t out[16];
    size_t length = sizeof(out);
    card.Queue(notFound);
    EXPECT_EQ(media.ReadFile(session, 7, out, &length), devrc::kFileNotFound);

    uint32_t size = 99;
    card.Queue(notFound);
    EXPECT_EQ(media.GetFileSize(session, 7, &size), 0u);
    EXPECT_EQ(size, 0u);

    bool exists = true;
    card.Queue(notFound);
    EXPECT_EQ(media.IsFileExists(session, 7, &exists), 0u);
    EXPECT_FALSE(exists);
    card.Queue("01 00 10 00 90 00");
    EXPECT_EQ(media.IsFileExists(session, 7, &exists), 0u);
    EXPECT_TRUE(exists);

    card.Queue(notFound);
    EXPECT_EQ(media.DeleteFile(session, 7), 0u);

    // Other failures are not hidden.
    card.Queue("01 29 90 00");
    EXPECT_EQ(media.IsFileExists(session, 7, &exists), devrc::kInvalidSession);
    card.Queue("01 29 90 00");
    EXPECT_EQ(media.DeleteFile(session, 7), devrc::kInvalidSession);
}

TEST_F(MediaZrSCTest, ReadFileSizesFirstThenReadsTheWholeFile)
{
    uint8_t small[10];
    size_t length = sizeof(small);
    card.Queue("01 00 2C 01 90 00");  // 300 bytes
    EXPECT_EQ(media.ReadFile(session, 0x7E, small, &length), devrc::kSize);
    EXPECT_EQ(length, 300u);
    EXPECT_EQ(card.sent.size(), 1u);

    length = 0;
    card.Queue("01 00 2C 01 90 00");
    EXPECT_EQ(media.ReadFile(session, 0x7E, nullptr, &length), 0u);
    EXPECT_EQ(length, 300u);

    Bytes out(400);
    length = out.size();
    card.Queue("01 00 2C 01 90 00");
    card.Queue("01 00 " + ToHex(Bytes(192, 0x61)) + " 90 00");
    card.Queue("01 00 " + ToHex(Bytes(108, 0x62)) + " 90 00");
    EXPECT_EQ(media.ReadFile(session, 0x7E, out.data(), &length), 0u);
    EXPECT_EQ(length, 300u);
    EXPECT_EQ(out[191], 0x61);
    EXPECT_EQ(out[299], 0x62);
    EXPECT_EQ(card.sent.size(), 5u);
}

TEST_F(MediaZrSCTest, CommonKeyIsAlways32Bytes)
{
    uint8_t out[40] = {};
    size_t length = 16;
    EXPECT_EQ(media.GetCommonKey(session, 0xB4, out, 4, 1, out, 4, 1, out, 4, out, &length), devrc::kSize);
    EXPECT_EQ(length, 32u);
    length = 0;
    EXPECT_EQ(media.GetCommonKey(session, 0xB4, out, 4, 1, out, 4, 1, out, 4, nullptr, &length), 0u);
    EXPECT_EQ(length, 32u);
    EXPECT_TRUE(card.sent.empty());

    length = sizeof(out);
    card.Queue("01 00 20 00 " + ToHex(Bytes(32, 0x4B)) + " 90 00");
    EXPECT_EQ(media.GetCommonKey(session, 0xB4, out, 4, 1, out, 4, 1, out, 4, out, &length), 0u);
    EXPECT_EQ(length, 32u);
}

TEST_F(MediaZrSCTest, NullLengthPointersAreRefusedBeforeSending)
{
    uint8_t out[8];
    const std::function<uint32_t()> calls[] = {
        [&] { return media.GetAttr(0, out, nullptr); },
        [&] { return media.GetSlotAttr(0x90303, out, nullptr); },
        [&] { return media.GetFirmwareIntegrityCode(out, 1, out, nullptr); },
        [&] { return media.ReadFile(session, 1, out, nullptr); },
        [&] { return media.GenerateKeyPair(session, RSA_sign_512, 1, TokenObject, out, nullptr); },
        [&] { return media.GetSignature(session, 1, out, 1, out, nullptr); },
        [&] { return media.Encrypt(session, RSA_sign_512, out, 1, out, 1, out, nullptr); },
        [&] { return media.Decrypt(session, 1, out, 1, out, nullptr); },
        [&] { return media.GetCommonKey(session, 1, out, 1, 0, out, 1, 1, out, 1, out, nullptr); },
    };
    for (size_t i = 0; i < sizeof(calls) / sizeof(calls[0]); ++i) {
        EXPECT_EQ(calls[i](), devrc::kInvalidHandle) << "call " << i;
    }
    EXPECT_TRUE(card.sent.empty());
}

TEST(MediaZrSCNoDeviceTest, CardOperationsBeforeOpenThrow1200AndObjectNamesAreNotImplemented)
{
    MediaZrSC media;
    uint8_t session[32] = {};
    try {
        media.OpenSession(session);
        FAIL() << "no exception";
    } catch (const tru::Exception& e) {
        EXPECT_EQ(e.GetCode(), devrc::kNoDevice);
    }
    EXPECT_EQ(media.DeleteObject(session, "x"), devrc::kNotImplemented);
    EXPECT_EQ(media.GetObjectsCount(session, nullptr), devrc::kNotImplemented);
}

TEST(MediaZrSCNoDeviceTest, OpenByHandleAdoptsTheApplicationsHandle)
{
    MediaZrSC media;
    ASSERT_EQ(media.OpenByHandle(0x1234), 0u);
    SCARDHANDLE handle = 0;
    EXPECT_EQ(media.GetHandle(&handle), 0u);
    EXPECT_EQ(handle, 0x1234u);
}

}  // namespace
