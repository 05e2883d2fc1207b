#include "device/zr_scard.h"

#include <gtest/gtest.h>

#include <functional>

#include "device/device_results.h"
#include "scripted_card.h"

using namespace devtest;

namespace {

const Bytes kSession = SessionBytes();
const std::string S = ToHex(kSession);

std::string Apdu(const std::string& lc, const std::string& data)
{
    return Hex("81 00 00 00 " + lc + " " + data + " 00 16 05");
}

class ZrSCardTest : public ::testing::Test {
protected:
    ZrSCardTest() : device(card.MakeDevice()) {}

    ScriptedCard card;
    std::unique_ptr<ZrSCard> device;
    const uint8_t* session = kSession.data();
};

TEST_F(ZrSCardTest, AttributeSevenIsReadWithTheTokensFraming)
{
    card.Queue("01 00 04 04 00 0F 04 90 00");
    uint8_t value[4] = {};
    size_t length = sizeof(value);
    ASSERT_EQ(device->GetAttr(AttrVersion, &length, value), 0u);
    EXPECT_EQ(card.SentHex(0), Hex("81 00 00 00 03 01 10 07 00 16 05"));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(ToHex(value, length), "04 00 0F 04");
}

TEST_F(ZrSCardTest, OpenSessionTakesThe32BytesAfterMarkerAndStatus)
{
    card.Queue("01 00 " + S + " 90 00");
    uint8_t handle[32] = {};
    ASSERT_EQ(device->OpenSession(handle), 0u);
    EXPECT_EQ(card.SentHex(0), Hex("81 00 00 00 02 01 36 00 16 05"));
    EXPECT_EQ(ToHex(handle, sizeof(handle)), S);
}

TEST_F(ZrSCardTest, LcIsOneByteUpTo255AndExtendedLowByteFirstBeyond)
{
    struct Case {
        size_t signData;  // the Sign command adds 37 bytes of its own
        std::string lc;
    } cases[] = {{163, "C8"}, {218, "FF"}, {219, "00 00 01"}, {263, "00 2C 01"}, {1263, "00 14 05"}};
    for (const Case& c : cases) {
        card.sent.clear();
        const Bytes data(c.signData, 0x5A);
        uint8_t out[8];
        size_t length = sizeof(out);
        card.Queue("01 00 01 00 EE 90 00");
        ASSERT_EQ(device->Sign(session, 0xB4, data.data(), data.size(), &length, out), 0u) << c.signData;
        ASSERT_EQ(card.sent.size(), 1u);
        const std::string sent = card.SentHex(0);
        EXPECT_EQ(sent.substr(0, 12 + c.lc.size()), "81 00 00 00 " + c.lc) << c.signData;
        EXPECT_EQ(sent.substr(sent.size() - 8), "00 16 05") << c.signData;
        EXPECT_EQ(card.sent[0].size(), 4 + (c.lc.size() + 1) / 3 + 37 + c.signData + 3);
    }
}

TEST_F(ZrSCardTest, EveryCommandEncodesItsFieldsInOrder)
{
    const Bytes ab = FromHex("AA BB");
    const Bytes aa = FromHex("AA");
    uint8_t out[64];
    size_t length = 0;
    uint16_t size16 = 0;
    uint32_t word = 0;
    const Bytes so = FromHex("31 32"), user = FromHex("33 34 35"), lbl = FromHex("4C");
    const Bytes pin6 = FromHex("31 32 33 34 35 36");

    struct Case {
        const char* name;
        std::function<uint32_t(ZrSCard&)> call;
        std::string request;
        std::string answer;
    } cases[] = {
        {"CreateFile", [&](ZrSCard& d) { return d.CreateFile(session, 0x7E); }, Apdu("23", "01 01" + S + "7E"), ""},
        {"DeleteFile", [&](ZrSCard& d) { return d.DeleteFile(session, 5); }, Apdu("23", "01 02" + S + "05"), ""},
        {"GetFileSize", [&](ZrSCard& d) { return d.GetFileSize(session, 0x7E, size16); },
         Apdu("23", "01 03" + S + "7E"), "01 00 2C 01 90 00"},
        {"WriteFile", [&](ZrSCard& d) { return d.WriteFile(session, 3, 0x0102, 3, FromHex("AA BB CC").data()); },
         Apdu("29", "01 04" + S + "03 02 01 03 AA BB CC"), ""},
        {"ReadFile", [&](ZrSCard& d) { return d.ReadFile(session, 3, 0x10, 2, out); },
         Apdu("26", "01 05" + S + "03 10 00 02"), "01 00 AA BB 90 00"},
        {"SetAttr", [&](ZrSCard& d) { return d.SetAttr(4, 2, ab.data()); }, Apdu("06", "01 11 04 02 AA BB"), ""},
        {"TestResponseDelay", [&](ZrSCard& d) { return d.TestResponseDelay(2, out, sizeof(out)); },
         Apdu("04", "01 12 02 00"), "01 00 AA BB 90 00"},
        {"SetResponseDelay", [&](ZrSCard& d) { return d.SetResponseDelay(0x1234); }, Apdu("04", "01 13 34 12"), ""},
        {"InitSOPIN",
         [&](ZrSCard& d) { return d.InitSOPIN(so.data(), so.size(), aa.data(), 1, lbl.data(), lbl.size()); },
         Apdu("09", "01 30 02 31 32 01 AA 01 4C"), ""},
        {"InitUserPIN", [&](ZrSCard& d) { return d.InitUserPIN(so.data(), so.size(), user.data(), user.size()); },
         Apdu("09", "01 31 02 31 32 03 33 34 35"), ""},
        {"ChangeSOPIN", [&](ZrSCard& d) { return d.ChangeSOPIN(so.data(), so.size(), user.data(), user.size()); },
         Apdu("09", "01 32 02 31 32 03 33 34 35"), ""},
        {"ChangeUserPIN",
         [&](ZrSCard& d) { return d.ChangeUserPIN(so.data(), 1, user.data(), 1, ab.data(), ab.size()); },
         Apdu("09", "01 33 01 31 01 33 02 AA BB"), ""},
        {"CheckSOPIN", [&](ZrSCard& d) { return d.CheckSOPIN(user.data(), user.size()); },
         Apdu("06", "01 34 03 33 34 35"), ""},
        {"CheckUserPIN", [&](ZrSCard& d) { return d.CheckUserPIN(user.data(), user.size()); },
         Apdu("06", "01 35 03 33 34 35"), ""},
        {"CloseSession", [&](ZrSCard& d) { return d.CloseSession(session); }, Apdu("22", "01 37" + S), ""},
        {"Login", [&](ZrSCard& d) { return d.Login(session, pin6.data(), pin6.size()); },
         Apdu("29", "01 38" + S + "06 31 32 33 34 35 36"), ""},
        {"Logout", [&](ZrSCard& d) { return d.Logout(session); }, Apdu("22", "01 39" + S), ""},
        {"GetSessionState", [&](ZrSCard& d) { return d.GetSessionState(session, word); },
         Apdu("22", "01 3A" + S), "01 00 02 00 00 00 90 00"},
        {"GetFirmwareIntegrityCode",
         [&](ZrSCard& d) { length = 4; return d.GetFirmwareIntegrityCode(ab.size(), ab.data(), &length, out); },
         Apdu("05", "01 3B 02 AA BB"), "01 00 01 EE 90 00"},
        {"ResetDevice", [&](ZrSCard& d) { return d.ResetDevice(aa.data(), 1); }, Apdu("04", "01 3C 01 AA"), ""},
        {"GetRand", [&](ZrSCard& d) { return d.GetRand(session, out, 2, ab.data(), ab.size()); },
         Apdu("26", "01 A1" + S + "02 02 AA BB"), "01 00 11 22 90 00"},
        {"GenerateKey",
         [&](ZrSCard& d) { length = 54; return d.GenerateKey(session, DSTU4145_POLYNOMIAL_0, 0xB4, &length, out); },
         Apdu("24", "01 A2" + S + "09 B4"), "01 00 02 00 AA BB 90 00"},
        {"Sign", [&](ZrSCard& d) { length = 64; return d.Sign(session, 0xB4, ab.data(), ab.size(), &length, out); },
         Apdu("27", "01 A4" + S + "B4 02 00 AA BB"), "01 00 01 00 CC 90 00"},
        {"Verify",
         [&](ZrSCard& d) {
             return d.Verify(session, DSTU4145_POLYNOMIAL_0, 2, ab.data(), 1, FromHex("CC").data(), 1,
                             FromHex("DD").data());
         },
         Apdu("2D", "01 A5" + S + "09 02 00 AA BB 01 00 CC 01 00 DD"), ""},
        {"GetCommonKey",
         [&](ZrSCard& d) {
             length = 32;
             return d.GetCommonKey(session, 0xB4, 1, aa.data(), 1, 2, FromHex("BB CC").data(), 1, 1,
                                   FromHex("DD").data(), &length, out);
         },
         Apdu("32", "01 A7" + S + "B4 01 00 AA 01 02 00 BB CC 01 00 00 00 01 00 DD"), "01 00 01 00 EE 90 00"},
        {"Encrypt",
         [&](ZrSCard& d) {
             length = 64;
             return d.Encrypt(session, DSA_ECP_SECP256R1, 1, aa.data(), 2, FromHex("BB CC").data(), &length, out);
         },
         Apdu("2C", "01 A8" + S + "0F 01 00 AA 02 00 BB CC 00 00"), "01 00 01 00 EE 90 00"},
        {"Decrypt", [&](ZrSCard& d) { length = 64; return d.Decrypt(session, 0xB4, aa.data(), 1, &length, out); },
         Apdu("26", "01 A9" + S + "B4 01 00 AA"), "01 00 01 00 EE 90 00"},
        {"LoadKey", [&](ZrSCard& d) { return d.LoadKey(session, RSA_sign_512, 2, ab.data(), 0xB5); },
         Apdu("28", "01 B0" + S + "0D 02 00 AA BB B5"), ""},
    };
    for (const Case& c : cases) {
        card.sent.clear();
        if (!c.answer.empty()) {
            card.Queue(c.answer);
        }
        EXPECT_EQ(c.call(*device), 0u) << c.name;
        EXPECT_EQ(card.SentHex(0), c.request) << c.name;
        EXPECT_EQ(card.sent.size(), 1u) << c.name;
    }
}

TEST_F(ZrSCardTest, AnswerStatusBecomesItsResultCode)
{
    struct Case {
        const char* answer;
        uint32_t transmitResult;
        uint32_t expected;
    } cases[] = {
        {"01 00 90 00", 0, 0},
        {"01 29 90 00", 0, 1312},               // invalid session
        {"01 6F 90 00", 0, 31},                 // status above the table
        {"01 08 90 00", 0, 31},                 // status the table does not name
        {"01 6E 90 00", 0, 8398},               // last entry of the table
        {"01 12 90 00", 0, 0x80090006},         // signature does not verify
        {"01 20 90 00", 0, 0x8010002A},         // wrong PIN
        {"01 1F 90 00", 0, 0x8010006C},         // PIN locked
        {"01 69 90 00", 0, 2},                  // file not found
        {"01 01 90 00", 0, 234},                // more data
        {"02 00 90 00", 0, 22},                 // wrong marker
        {"90 00", 0, 31},                       // status word alone
        {"01 00 6A 82", 0, 22},                 // no 90 00
        {"01 00 90", 0, 22},                    // status word cut short
        {"00", 0, 31},
        {"", 0, 31},
        {"", 2, 0x651},                         // the transmit itself failed with 2
        {"", 0x80100068, 0x80100068},           // card reset, passed on for reconnect-and-repeat
        {"", 0x80100069, 0x80100069},
    };
    for (const Case& c : cases) {
        card.Queue(c.answer, c.transmitResult);
        EXPECT_EQ(device->CloseSession(session), c.expected) << "answer '" << c.answer << "'";
    }
}

TEST_F(ZrSCardTest, MalformedAnswerFieldsGiveResultCodesNotOverreads)
{
    uint8_t out[64];
    size_t length = 0;
    uint16_t size16 = 0;
    uint32_t word = 0;
    struct Case {
        const char* name;
        const char* answer;
        std::function<uint32_t()> call;
        uint32_t expected;
    } cases[] = {
        {"file size truncated", "01 00 05 90 00", [&] { return device->GetFileSize(session, 1, size16); }, 122},
        {"file size missing", "01 00 90 00", [&] { return device->GetFileSize(session, 1, size16); }, 122},
        {"attribute length beyond data", "01 00 05 01 02 90 00",
         [&] { length = 16; return device->GetAttr(0, &length, out); }, 31},
        {"attribute length short of data", "01 00 01 01 02 90 00",
         [&] { length = 16; return device->GetAttr(0, &length, out); }, 31},
        {"attribute without length", "01 00 90 00", [&] { length = 16; return device->GetAttr(0, &length, out); },
         31},
        {"session handle truncated", "01 00 01 02 03 04 05 06 07 08 09 0A 90 00",
         [&] { return device->OpenSession(out); }, 122},
        {"session state truncated", "01 00 01 02 03 90 00", [&] { return device->GetSessionState(session, word); },
         122},
        {"signature length beyond data", "01 00 40 00 01 02 90 00",
         [&] { length = 64; return device->Sign(session, 1, out, 4, &length, out); }, 122},
        {"signature length cut", "01 00 40 90 00",
         [&] { length = 64; return device->Sign(session, 1, out, 4, &length, out); }, 122},
        {"key agreement length beyond data", "01 00 20 00 90 00",
         [&] { length = 32; return device->GetCommonKey(session, 1, 0, nullptr, 0, 0, nullptr, 1, 0, nullptr,
                                                        &length, out); }, 122},
        {"random short", "01 00 01 02 03 04 90 00", [&] { return device->GetRand(session, out, 8, nullptr, 0); },
         122},
        {"file chunk short", "01 00 01 02 90 00", [&] { return device->ReadFile(session, 1, 0, 4, out); }, 122},
        {"delay bytes short", "01 00 01 02 90 00", [&] { return device->TestResponseDelay(4, out, sizeof(out)); },
         122},
        {"integrity code beyond data", "01 00 05 01 90 00",
         [&] { length = 16; return device->GetFirmwareIntegrityCode(0, nullptr, &length, out); }, 122},
        {"fields after a failure status", "01 29 FF FF 90 00",
         [&] { return device->GetFileSize(session, 1, size16); }, 1312},
    };
    for (const Case& c : cases) {
        card.Queue(c.answer);
        EXPECT_EQ(c.call(), c.expected) << c.name;
    }
}

TEST_F(ZrSCardTest, WriteFileSendsChunksOf192AtAdvancingOffsets)
{
    Bytes data(400);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(device->WriteFile(session, 9, 10, data.size(), data.data()), 0u);
    ASSERT_EQ(card.sent.size(), 3u);
    const struct {
        std::string lcOffsetCount;  // Lc, then offset and n after session and file ID
        size_t from, n;
    } chunks[] = {{"E6", 0, 192}, {"E6", 192, 192}, {"36", 384, 16}};
    const std::string offsets[] = {"0A 00 C0", "CA 00 C0", "8A 01 10"};
    for (int i = 0; i < 3; ++i) {
        const Bytes part(data.begin() + chunks[i].from, data.begin() + chunks[i].from + chunks[i].n);
        EXPECT_EQ(card.SentHex(i), Apdu(chunks[i].lcOffsetCount, "01 04" + S + "09 " + offsets[i] + ToHex(part)))
            << "chunk " << i;
    }
}

TEST_F(ZrSCardTest, WriteFileStopsAtTheFirstFailureAndRefusesSpansPastTheOffsetRange)
{
    const Bytes data(400, 0x11);
    card.Queue("01 00 90 00");
    card.Queue("01 19 90 00");  // insufficient space
    EXPECT_EQ(device->WriteFile(session, 9, 0, data.size(), data.data()), 112u);
    EXPECT_EQ(card.sent.size(), 2u);

    card.sent.clear();
    EXPECT_EQ(device->WriteFile(session, 9, 0, 0, nullptr), 0u);
    EXPECT_EQ(device->WriteFile(session, 9, 0xFFF0, 0x11, data.data()), devrc::kParam);
    EXPECT_EQ(device->WriteFile(session, 9, 0, 5, nullptr), devrc::kParam);
    EXPECT_TRUE(card.sent.empty());
}

TEST_F(ZrSCardTest, ReadFileAssemblesChunks)
{
    Bytes file(400);
    for (size_t i = 0; i < file.size(); ++i) {
        file[i] = static_cast<uint8_t>(i * 7);
    }
    for (size_t from : {0, 192, 384}) {
        const size_t n = std::min<size_t>(192, file.size() - from);
        card.Queue("01 00 " + ToHex(Bytes(file.begin() + from, file.begin() + from + n)) + " 90 00");
    }
    Bytes out(400);
    ASSERT_EQ(device->ReadFile(session, 2, 0, out.size(), out.data()), 0u);
    EXPECT_EQ(out, file);
    ASSERT_EQ(card.sent.size(), 3u);
    EXPECT_EQ(card.SentHex(2), Apdu("26", "01 05" + S + "02 80 01 10"));
}

TEST_F(ZrSCardTest, LengthPrefixedOutputsNegotiateTheCallersLength)
{
    uint8_t out[64] = {};
    size_t length = 4;
    card.Queue("01 00 10 " + ToHex(Bytes(16, 0x41)) + " 90 00");
    EXPECT_EQ(device->GetAttr(AttrSerialNumber, &length, out), devrc::kSize);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(out[0], 0);

    length = 4;
    card.Queue("01 00 10 " + ToHex(Bytes(16, 0x41)) + " 90 00");
    EXPECT_EQ(device->GetAttr(AttrSerialNumber, &length, nullptr), 0u);
    EXPECT_EQ(length, 16u);

    // The token has signed already; only the output was too small.
    length = 32;
    card.Queue("01 00 40 00 " + ToHex(Bytes(64, 0x53)) + " 90 00");
    EXPECT_EQ(device->Sign(session, 0xB4, out, 32, &length, out), devrc::kSize);
    EXPECT_EQ(length, 64u);

    length = 0;
    card.Queue("01 00 40 00 " + ToHex(Bytes(64, 0x53)) + " 90 00");
    EXPECT_EQ(device->Sign(session, 0xB4, out, 32, &length, nullptr), 0u);
    EXPECT_EQ(length, 64u);

    length = 64;
    card.Queue("01 00 03 00 01 02 03 90 00");
    EXPECT_EQ(device->Decrypt(session, 0xB4, out, 8, &length, out), 0u);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(ToHex(out, 3), "01 02 03");
    EXPECT_EQ(card.sent.size(), 5u);
}

TEST_F(ZrSCardTest, SetMaxAuthCtrHasAFixed39ByteDataField)
{
    const Bytes pin = FromHex("31 32 33 34 35 36");
    ASSERT_EQ(device->SetMaxAuthCtr(pin.data(), pin.size(), 0x01020304), 0u);
    EXPECT_EQ(card.SentHex(0), Apdu("27", "01 3D 06 31 32 33 34 35 36 04 03 02 01" + ToHex(Bytes(26, 0))));

    const Bytes longest(32, 0x31), tooLong(33, 0x31);
    EXPECT_EQ(device->SetMaxAuthCtr(longest.data(), longest.size(), 3), 0u);
    EXPECT_EQ(card.sent[1].size(), 4u + 1 + 39 + 3);
    EXPECT_EQ(device->SetMaxAuthCtr(tooLong.data(), tooLong.size(), 3), devrc::kParam);
    EXPECT_EQ(card.sent.size(), 2u);
}

TEST_F(ZrSCardTest, RequestsThatDoNotFitAreRefusedBeforeSending)
{
    uint8_t out[256];
    size_t length = sizeof(out);
    const Bytes big(70000, 0x42);
    struct Case {
        const char* name;
        std::function<uint32_t()> call;
        uint32_t expected;
    } cases[] = {
        {"random count 193", [&] { return device->GetRand(session, out, 193, nullptr, 0); }, devrc::kSize},
        {"random seed 193", [&] { return device->GetRand(session, out, 8, big.data(), 193); }, devrc::kSize},
        {"PIN of 256 bytes", [&] { return device->Login(session, big.data(), 256); }, devrc::kParam},
        {"label of 256 bytes", [&] { return device->InitSOPIN(big.data(), 6, big.data(), 8, big.data(), 256); },
         devrc::kParam},
        {"sign data past the buffer", [&] { return device->Sign(session, 1, big.data(), 1264, &length, out); },
         devrc::kSize},
        {"key past the u16 length", [&] { return device->Verify(session, RSA_sign_512, big.size(), big.data(), 1,
                                                                 big.data(), 1, big.data()); }, devrc::kParam},
        {"null data with a length", [&] { return device->Sign(session, 1, nullptr, 5, &length, out); },
         devrc::kParam},
        {"null session", [&] { return device->CloseSession(nullptr); }, devrc::kParam},
        {"null session output", [&] { return device->OpenSession(nullptr); }, devrc::kParam},
        {"null in/out length", [&] { return device->Decrypt(session, 1, out, 4, nullptr, out); }, devrc::kParam},
        {"delay answer larger than the output", [&] { return device->TestResponseDelay(16, out, 8); }, devrc::kSize},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.name;
    }
    EXPECT_TRUE(card.sent.empty()) << card.SentHex(0);
}

}  // namespace
