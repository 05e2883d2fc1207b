#include "national/ua_gost_utl.h"

#include "asn1/asn1_codec.h"
#include "national/ck_error.h"
#include "tru2/exception.h"
#include "zrasn1/Dke.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using qel::UAGostUtl;

tru::Buffer View(const Bytes& bytes) { return tru::Buffer(bytes.data(), uint32_t(bytes.size())); }
Bytes ToBytes(const tru::Buffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Size()); }
// The 64 DKE bytes of table n (the DER view without its 04 40 header).
Bytes DkeOf(unsigned n)
{
    const Bytes der = ToBytes(UAGostUtl::GetInstance()->GetDKE(n));
    return Bytes(der.begin() + 2, der.end());
}
Bytes OidOf(unsigned n) { return ToBytes(UAGostUtl::GetInstance()->GetDKEOID(n)); }

// The code and message of the CkError a call raises; code 0 when it raises none.
std::pair<CK_RV, std::string> CkErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const qel::CkError& e) {
        return {e.GetCode(), e.what()};
    }
    return {0, ""};
}

class UAGostUtlTest : public ::testing::Test {
protected:
    UAGostUtl& util = *UAGostUtl::GetInstance();
};

TEST_F(UAGostUtlTest, TablesAgreeWithTheirIdentifiers)
{
    for (unsigned n = 1; n <= 10; ++n) {
        const tru::Buffer& der = util.GetDKE(n);
        ASSERT_EQ(der.Size(), 66u);
        EXPECT_EQ(der.Data()[0], 0x04);
        EXPECT_EQ(der.Data()[1], 0x40);
        const Bytes oidDer = OidOf(n);
        auto oid = qel::asn1::Decode<OBJECT_IDENTIFIER_t>(asn_DEF_OBJECT_IDENTIFIER, oidDer.data(), oidDer.size());
        ASSERT_TRUE(oid) << n;
        std::string text;
        ASSERT_TRUE(qel::asn1::OidToText(*oid, text));
        EXPECT_EQ(text, "1.2.804.2.1.1.1.1.1.1.10." + std::to_string(n));
        EXPECT_EQ(util.GetDKEForOID(text).Data(), der.Data()) << text;
    }
    EXPECT_TRUE(util.GetDKEForOID("1.2.804.2.1.1.1.1.1.1.10").Empty());
    EXPECT_TRUE(util.GetDKEForOID("1.2.804.2.1.1.1.1.1.1.10.1.0").Empty());
    EXPECT_EQ(ToBytes(util.GetDefaultIV()), Bytes(32, 0));
}

TEST_F(UAGostUtlTest, ExtractSBoxResolvesEveryForm)
{
    struct Case {
        const char* name;
        Bytes value;
        bool found;
        Bytes dke;
    } const cases[] = {
        {"empty value is DKE1", {}, true, DkeOf(1)},
        {"OCTET STRING of DKE5", ToBytes(util.GetDKE(5)), true, DkeOf(5)},
        {"identifier of DKE7", OidOf(7), true, DkeOf(7)},
        {"identifier of DKE10", OidOf(10), true, DkeOf(10)},
        {"identifier .10.11 is no table", [] {
             Bytes oid = OidOf(1);
             oid.back() = 11;
             return oid;
         }(), false, {}},
    };
    for (const Case& c : cases) {
        tru::BufferDynamic out(3);
        out.Data()[0] = 0xEE;
        EXPECT_EQ(util.ExtractSBox(View(c.value), out, CKR_ATTRIBUTE_VALUE_INVALID), c.found) << c.name;
        if (c.found)
            EXPECT_EQ(ToBytes(out), c.dke) << c.name;
        else
            EXPECT_EQ(out.Size(), 3u) << c.name << ": output untouched";
    }
}

TEST_F(UAGostUtlTest, ExtractSBoxTakesAnyDkeLengthButKExtNeeds64)
{
    const Bytes value = {0x04, 0x08, 1, 2, 3, 4, 5, 6, 7, 8};
    tru::BufferDynamic dke;
    ASSERT_TRUE(util.ExtractSBox(View(value), dke, CKR_ATTRIBUTE_VALUE_INVALID));
    EXPECT_EQ(dke.Size(), 8u);
    tru::BufferDynamic kext;
    const auto error = CkErrorOf([&] { util.PrepareKExt(dke, kext); });
    EXPECT_EQ(error.first, CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(error.second, "DKE size should be 64 bytes");

    // A fixed 64-byte view takes only 64 bytes.
    uint8_t fixed[64];
    tru::Buffer view(fixed, 64);
    try {
        util.ExtractSBox(View(value), view, CKR_ATTRIBUTE_VALUE_INVALID);
        ADD_FAILURE() << "no exception";
    } catch (const tru::Exception& e) {
        EXPECT_EQ(e.GetCode(), tru::ERROR_SIZE);
    }
    EXPECT_TRUE(util.ExtractSBox(View(OidOf(2)), view, CKR_ATTRIBUTE_VALUE_INVALID));
    EXPECT_EQ(Bytes(fixed, fixed + 64), DkeOf(2));
}

TEST_F(UAGostUtlTest, ExtractSBoxRefusesWhatIsNotOneDerDke)
{
    Bytes trailing = OidOf(3);
    trailing.push_back(0);
    const Bytes cases[] = {
        {0x30, 0x00},                           // a SEQUENCE is no Dke
        {0x04, 0x40, 1, 2},                     // truncated
        {0x06},                                 // tag only
        trailing,                               // bytes after the value
        {0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF},   // length beyond the input
    };
    for (const Bytes& value : cases) {
        tru::BufferDynamic out;
        EXPECT_EQ(CkErrorOf([&] { util.ExtractSBox(View(value), out, CKR_MECHANISM_PARAM_INVALID); }).first,
                  CKR_MECHANISM_PARAM_INVALID);
        EXPECT_EQ(CkErrorOf([&] { util.ExtractSBox(View(value), out, CKR_ATTRIBUTE_VALUE_INVALID); }).first,
                  CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

TEST_F(UAGostUtlTest, EcbDataSize)
{
    struct {
        uint32_t size;
        bool acceptable;
    } const cases[] = {{0, false}, {12, false}, {7, false}, {8, true}, {4096, true}};
    for (const auto& c : cases) EXPECT_EQ(util.IsEcbDataSizeAcceptable(c.size), c.acceptable) << c.size;
}

TEST_F(UAGostUtlTest, SBlockAndKExtOfDke1)
{
    tru::BufferDynamic sblock;
    util.PrepareSBlock(util.GetDKE(1), sblock);  // the 66-byte view: only its first 64 bytes are read
    tru::BufferDynamic sblockOfDke;
    const Bytes dke1 = DkeOf(1);
    util.PrepareSBlock(View(dke1), sblockOfDke);
    ASSERT_EQ(sblockOfDke.Size(), 128u);
    EXPECT_EQ(sblockOfDke.Data()[7], 0xA);   // high nibble of DKE byte 0
    EXPECT_EQ(sblockOfDke.Data()[15], 0x9);  // its low nibble
    EXPECT_EQ(CkErrorOf([&] { util.PrepareSBlock(View(Bytes(63)), sblock); }).first, CKR_MECHANISM_PARAM_INVALID);

    tru::BufferDynamic kext;
    util.PrepareKExt(View(dke1), kext);
    ASSERT_EQ(kext.Size(), 4096u);
    uint32_t expected[G28147_KEXT_WORDS];
    ASSERT_NE(g28147_make_kext(expected, sblockOfDke.Data()), nullptr);
    EXPECT_EQ(std::memcmp(kext.Data(), expected, sizeof(expected)), 0);
    EXPECT_EQ(std::memcmp(util.GetKExt(View(dke1))->Words(), expected, sizeof(expected)), 0);

    const Bytes sv(32), shortSv(31);
    tru::BufferDynamic kext3;
    util.PrepareKExt(View(sv), View(dke1), kext3);
    EXPECT_EQ(ToBytes(kext3), ToBytes(kext));
    const auto error = CkErrorOf([&] { util.PrepareKExt(View(shortSv), View(dke1), kext3); });
    EXPECT_EQ(error.first, CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(error.second, "IV size should be 32 bytes");
    EXPECT_EQ(CkErrorOf([&] { util.GetKExt(View(Bytes(65))); }).second, "DKE size should be 64 bytes");
}

TEST(UAGostUtlInstance, RecreatedAfterDestroy)
{
    UAGostUtl* first = UAGostUtl::GetInstance();
    EXPECT_EQ(UAGostUtl::GetInstance(), first);
    EXPECT_EQ(UAGostUtl::s_instance, first);
    UAGostUtl::DestroyInstance();
    EXPECT_EQ(UAGostUtl::s_instance, nullptr);
    EXPECT_NE(UAGostUtl::GetInstance(), nullptr);
}

} // namespace
