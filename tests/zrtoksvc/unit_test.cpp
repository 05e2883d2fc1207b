// The utility's converters, word tables, -attr templates, stopwatch and external random source.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "certificate.h"
#include "converters.h"
#include "lib_parameters.h"
#include "printing.h"
#include "support/vdk_exception.h"
#include "words.h"

namespace {

// A file of its own name under the temporary folder, holding the bytes.
std::string TempFileWith(const std::string& bytes) {
    std::string path = ::testing::TempDir() + "zrtoksvc-unit-XXXXXX";
    const int fd = mkstemp(&path[0]);
    if (fd < 0) throw std::runtime_error("mkstemp");
    close(fd);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

}  // namespace

using namespace zrsvc;

namespace {

struct IntCase {
    const char* text;
    bool ok;
    int value;
};

TEST(Converters, StringToIntTable) {
    const IntCase cases[] = {{" 42", true, 42}, {"42abc", true, 42}, {"-7", true, -7},
                             {"abc", false, 0},  {"", false, 0},      {"3x", true, 3}};
    for (const IntCase& c : cases) {
        if (c.ok) {
            EXPECT_EQ(vdk::Converters::StringToInt(c.text), c.value) << c.text;
        } else {
            try {
                vdk::Converters::StringToInt(c.text);
                ADD_FAILURE() << c.text;
            } catch (const vdk::Exception& e) {
                EXPECT_EQ(std::string(e.what()), std::string("Unable to parse int from \"") + c.text + "\"");
            }
        }
    }
}

TEST(Converters, SizesAndCountsRefuseALeadingMinus) {
    EXPECT_EQ(vdk::Converters::StringToSize("2048"), 2048u);
    for (const char* text : {"-1", " -5", "abc", ""})
        EXPECT_THROW(vdk::Converters::StringToSize(text), vdk::Exception) << text;
    EXPECT_EQ(vdk::Converters::StringToCount("3"), 3);
    EXPECT_THROW(vdk::Converters::StringToCount("-3"), vdk::Exception);
}

TEST(Converters, DefaultForms) {
    EXPECT_EQ(vdk::Converters::StringToInt("", 17), 17);
    EXPECT_EQ(vdk::Converters::StringToInt("  ", 17), 17);
    EXPECT_EQ(vdk::Converters::StringToInt("x1", 17), 0);
    EXPECT_EQ(vdk::Converters::StringToUInt("12", 1), 12u);
    EXPECT_EQ(vdk::Converters::StringToUnsignedLong("", 9), 9ul);
}

TEST(Stopwatch, ExactMillisecondsAndMisuse) {
    const struct {
        int64_t ms;
        const char* text;
    } cases[] = {{1001, "0:00:01.001"}, {3723500, "1:02:03.500"}, {750, "0:00:00.750"}, {0, "0:00:00.000"},
                 {59999, "0:00:59.999"}};
    for (const auto& c : cases) EXPECT_EQ(vdk::TimeCounterValue(c.ms).GetAsStr(), c.text) << c.ms;
    vdk::TimeCounter watch;
    EXPECT_FALSE(watch.HasRun());
    watch.Start();
    EXPECT_THROW(watch.Start(), vdk::Exception);
    watch.Stop();
    EXPECT_TRUE(watch.HasRun());
    try {
        watch.Stop();
        ADD_FAILURE();
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ(e.what(), "TimeCounter not started");
    }
}

TEST(Words, KindTables) {
    EXPECT_EQ(ConvertObjectTypeFromStr("priv_key", false), OT_PRIVATE_KEYS);
    EXPECT_EQ(ConvertObjectTypeFromStr("hardware_features", false), OT_HW_FEATURES);
    EXPECT_EQ(ConvertKeyTypeFromStr("gost89", false), KT_GOST);
    EXPECT_EQ(ConvertKeyTypeFromStr("Rsa", false), KT_NONE);
    EXPECT_EQ(ConvertHashTypeFromStr("gost", false), HT_GOST);
    EXPECT_EQ(ConvertEncrModeFromStr("cfb", false), EM_CFB);
    EXPECT_EQ(ConvertEncrModeFromStr("", true), EM_NONE);
    try {
        ConvertKeyTypeFromStr("Rsa", true);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unknown key type");
    }
    EXPECT_THROW(ConvertObjectTypeFromStr("foo", true), std::runtime_error);
    EXPECT_THROW(ConvertHashTypeFromStr("md5", true), std::runtime_error);
    EXPECT_THROW(ConvertEncrModeFromStr("ofb", true), std::runtime_error);
    EXPECT_EQ(ConvertKeyTypeForToken(KT_DSTU4145), CKK_DSTU4145);
    EXPECT_EQ(ConvertKeyTypeForToken(KT_DSTU28147), CKK_GOST28147_NAT);
    EXPECT_EQ(ConvertKeyTypeForToken(KT_ECDSA), CKK_EC);
    EXPECT_EQ(ConvertKeyTypeForToken(KT_GOST), kNoKeyType);
    EXPECT_EQ(ConvertKeyTypeForToken(KT_NONE), kNoKeyType);
}

TEST(Words, TruthValues) {
    for (const char* yes : {"1", "true", "TRUE", "yes", "YES"}) EXPECT_TRUE(convertBooleanArg(yes, false)) << yes;
    for (const char* no : {"0", "no", "false", "True"}) EXPECT_FALSE(convertBooleanArg(no, true)) << no;
    EXPECT_TRUE(convertBooleanArg("", true));
}

TEST(Words, NamedParameterMatchesWholeName) {
    char a0[] = "zrtoksvc", a1[] = "-identity", a2[] = "0102", a3[] = "-id", a4[] = "4142";
    char* argv[] = {a0, a1, a2, a3, a4};
    std::string value;
    int index = 1;
    EXPECT_FALSE(testForParam(argv[1], "id", value, 5, argv, index));
    index = 3;
    EXPECT_TRUE(testForParam(argv[3], "id", value, 5, argv, index));
    EXPECT_EQ(value, "4142");
    EXPECT_EQ(index, 4);
    index = 1;
    EXPECT_TRUE(testForParam("-id=", "id", value, 5, argv, index));
    EXPECT_EQ(value, "");
    index = 4;
    EXPECT_FALSE(testForParam("-id", "id", value, 5, argv, index));  // no value follows
}

TEST(Words, ByteValuesResolve) {
    tru::BufferDynamic bytes;
    bytes.Set(std::string("4142"));
    LoadFileIfNeeded("id", bytes);
    EXPECT_EQ(bytes.ToString(), "AB");
    std::string label = "hex:414243";
    LoadFileIfNeeded("label", label);
    EXPECT_EQ(label, "ABC");
    const std::string path = TempFileWith(std::string("\x01\x00\x02", 3));
    bytes.Set("file:" + path);
    LoadFileIfNeeded("id", bytes);
    EXPECT_EQ(bytes.ToHex(), "010002");
    std::remove(path.c_str());
}

struct BadValue {
    const char* text;
    const char* message;
};

TEST(Words, BadValuesEndTheRunWithStatusOne) {
    const BadValue cases[] = {{"xyz", "Parameter id should be hexadecimal string\n"},
                              {"hex:4", "Parameter id should be hexadecimal string\n"},
                              {"file:/nonexistent/zr", "Parameter id: error 0x6E while loading file \"/nonexistent/zr\"\n"}};
    for (const BadValue& c : cases) {
        tru::BufferDynamic bytes;
        bytes.Set(std::string(c.text));
        testing::internal::CaptureStdout();
        try {
            LoadFileIfNeeded("id", bytes);
            ADD_FAILURE() << c.text;
        } catch (const ExitStatus& e) {
            EXPECT_EQ(e.status, 1);
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    }
}

struct AttrCase {
    const char* text;
    std::vector<std::pair<CK_ATTRIBUTE_TYPE, std::string>> expected;  // empty: refused
};

TEST(Attr, Table) {
    const AttrCase cases[] = {
        {"SIGN,VERIFY:FALSE,ID:0102", {{CKA_SIGN, "\x01"}, {CKA_VERIFY, std::string(1, '\0')}, {CKA_ID, "\x01\x02"}}},
        {"sign,", {{CKA_SIGN, "\x01"}}},
        {"copiable:true", {{CKA_COPYABLE, "\x01"}}},
        {"LABEL:hex:4142", {{CKA_LABEL, "AB"}}},
        {"ID", {{CKA_ID, "\x01"}}},
        // A name is matched by its beginning, the first row of the table winning.
        {"S", {{CKA_SENSITIVE, "\x01"}}},
        {"SIG,sig:FALSE", {{CKA_SIGN, "\x01"}, {CKA_SIGN, std::string(1, '\0')}}},
        {"SER:01,SU:02,I:03,D", {{CKA_SERIAL_NUMBER, "\x01"}, {CKA_SUBJECT, "\x02"}, {CKA_ID, "\x03"}, {CKA_DECRYPT, "\x01"}}},
        {"cop", {{CKA_COPYABLE, "\x01"}}},
        {",SIGN", {{CKA_MODIFIABLE, "\x01"}, {CKA_SIGN, "\x01"}}},  // an empty name begins the first row
        // Any other value of a Boolean is bytes, as for the binary attributes.
        {"SIGN:00,VERIFY:01,ENCRYPT:hex:00", {{CKA_SIGN, std::string(1, '\0')}, {CKA_VERIFY, "\x01"}, {CKA_ENCRYPT, std::string(1, '\0')}}},
        {"", {}},
        {"copyable", {}},      // the lower-case spelling is "copiable"
        {"SIGNX", {}},
        {"FOO,SIGN", {}},
        {"SIGN:yes", {}},      // no hexadecimal
        {"ID:xyz", {}},
    };
    for (const AttrCase& c : cases) {
        CK_ATTRIBUTE entries[4] = {};
        CK_ULONG n = 0;
        bool refused = false;
        testing::internal::CaptureStdout();
        try {
            n = AddAttr(c.text, entries, 4);
        } catch (const ExitStatus& e) {
            refused = e.status == 1;
        }
        const std::string out = testing::internal::GetCapturedStdout();
        if (c.expected.empty() && std::strlen(c.text) != 0) {
            EXPECT_TRUE(refused) << c.text;
            EXPECT_FALSE(out.empty()) << c.text;
            continue;
        }
        ASSERT_FALSE(refused) << c.text << out;
        ASSERT_EQ(n, c.expected.size()) << c.text;
        for (CK_ULONG i = 0; i < n; ++i) {
            EXPECT_EQ(entries[i].type, c.expected[i].first) << c.text;
            EXPECT_EQ(std::string(static_cast<char*>(entries[i].pValue), entries[i].ulValueLen), c.expected[i].second)
                << c.text;
        }
    }
}

TEST(Attr, MoreItemsThanRoomAreRefused) {
    CK_ATTRIBUTE entries[2] = {};
    testing::internal::CaptureStdout();
    EXPECT_THROW(AddAttr("SIGN,VERIFY,DERIVE", entries, 2), ExitStatus);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(AddAttr("SIGN,VERIFY", entries, 2), 2u);
}

TEST(Attr, UnsupportedNameMessage) {
    CK_ATTRIBUTE entries[2] = {};
    testing::internal::CaptureStdout();
    EXPECT_THROW(AddAttr("FOO,SIGN", entries, 2), ExitStatus);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: unsupported attribute name \"FOO\"\n");
}

TEST(Printing, MechanismFlags) {
    EXPECT_EQ(GetMechanismFlagsStr(0x2801), "CKF_HW, CKF_SIGN, CKF_VERIFY");
    EXPECT_EQ(GetMechanismFlagsStr(0), "");
    EXPECT_EQ(GetMechanismFlagsStr(0x80000000UL), "");
}

TEST(Printing, AttributeTexts) {
    CK_ULONG keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG bits = 0x1234500000400ULL;  // low four bytes only
    const char label[] = "my key";
    const unsigned char id[] = {0x01, 0xAB};
    const struct {
        CK_ATTRIBUTE attribute;
        const char* shortText;
        const char* longText;
    } cases[] = {
        {{CKA_KEY_TYPE, &keyType, sizeof keyType}, "CKK_DSTU4145",
         "\t        type: 0x100, len: 8, value: 3101428000000000 1.B..... : 2151809329 (CKK_DSTU4145)"},
        {{CKA_SIGN, &yes, 1}, "TRUE", "\t        type: 0x108, len: 1, value: 01 . : TRUE"},
        {{CKA_MODULUS_BITS, &bits, sizeof bits}, "1024",
         "\t        type: 0x121, len: 8, value: 0004000045230100 ....E#.. : 1024"},
        {{CKA_LABEL, const_cast<char*>(label), 6}, "my key (attribute size: 6)",
         "\t        type: 0x3, len: 6, value: \"my key\""},
        {{CKA_ID, const_cast<unsigned char*>(id), 2}, "hex: 01AB (attribute size: 2)",
         "\t        type: 0x102, len: 2, value: 01ab .."},
        {{CKA_VALUE, nullptr, CK_UNAVAILABLE_INFORMATION}, "<attribute unaccessible>",
         "\t        type: 0x11, len: 18446744073709551615"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetAttrShortPrintString(c.attribute), c.shortText);
        EXPECT_EQ(GetAttrPrintString(c.attribute), c.longText);
    }
}

TEST(ExternalRandom, ServedInOrderAndNeverTwice) {
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>(i);
    const std::string path = TempFileWith(bytes);
    testing::internal::CaptureStderr();
    SetupExtRandomCallback(path);  // no library loaded: only the message
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Using external random data from file impossible: can't find C_SetLibraryAttributes.\n");
    CK_BYTE out[32];
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(GetExternalRandomCallback(out, 32), CKR_OK);
        EXPECT_EQ(out[0], round * 32);
        EXPECT_EQ(out[31], round * 32 + 31);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetExternalRandomCallback(out, 32), 1u);  // 4 bytes left: never start over
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Not enough random data loaded from file: loaded 4, but library need 32 bytes of random data.\n"
              "Operation aborted!\n");
    EXPECT_EQ(GetExternalRandomCallback(out, 4), CKR_OK);
    EXPECT_EQ(out[3], 99);
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    testing::internal::CaptureStderr();
    SetupExtRandomCallback(path);
    EXPECT_EQ(GetExternalRandomCallback(out, 1), 1u);
    testing::internal::GetCapturedStderr();
    std::remove(path.c_str());
    EXPECT_THROW(SetupExtRandomCallback("/nonexistent/zr-random"), tru::Exception);
}

}  // namespace

namespace {

// A minimal certificate: version 3, serial 1, issuer CN=i, subject CN=x.
const std::string kCertHex =
    "3055304ba0030201020201013003060100300c310a300806035504030c0169301e170d3235303130313030303030305a170d32363031"
    "30313030303030305a300c310a300806035504030c017830003003060100030100";

std::string FromHexText(const std::string& hex) {
    tru::BufferDynamic b(static_cast<uint32_t>(hex.size() / 2));
    b.FromHex(hex.c_str());
    return b.ToString();
}

}  // namespace

TEST(Certificate, SubjectAsStoredOrNothing) {
    const std::string cert = FromHexText(kCertHex);
    std::string noVersion = cert;  // the version is optional
    noVersion.erase(4, 5);
    noVersion[1] = static_cast<char>(noVersion[1] - 5);
    noVersion[3] = static_cast<char>(noVersion[3] - 5);
    const struct {
        const char* name;
        std::string der;
        std::string subject;  // hex; empty: refused
    } cases[] = {
        {"whole", cert, "300C310A300806035504030C0178"},
        {"without version", noVersion, "300C310A300806035504030C0178"},
        {"truncated", cert.substr(0, cert.size() - 1), ""},
        {"trailing bytes", cert + std::string(1, '\0'), ""},
        {"text", "not a certificate\n", ""},
        {"empty", "", ""},
        {"huge length", std::string("\x30\x84\xFF\xFF\xFF\xFF\x30\x00", 8), ""},
        {"subject missing", FromHexText("3009300702010130023000"), ""},
    };
    for (const auto& c : cases) {
        tru::BufferDynamic der;
        der.Set(c.der);
        tru::BufferDynamic subject;
        const bool found = zrsvc::CertificateSubject(der, subject);
        EXPECT_EQ(found, !c.subject.empty()) << c.name;
        if (found) {
            EXPECT_EQ(subject.ToHex(), c.subject) << c.name;
        }
    }
}
