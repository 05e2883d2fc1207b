// The up-front check of an update must give the same verdict as the base classes' own update
// rules for every attribute the bases handle; a divergence would let a refused template be
// half applied.
#include <gtest/gtest.h>

#include "class_fakes.h"
#include "class_test_util.h"

namespace {

using namespace zrtest;

enum class Kind { Flag, Bytes, ULong, Date };

struct TypeCase {
    CK_ATTRIBUTE_TYPE type;
    Kind kind;
};

const TypeCase kBaseTypes[] = {
    {CKA_LABEL, Kind::Bytes},
    {CKA_TOKEN, Kind::Flag},
    {CKA_PRIVATE, Kind::Flag},
    {CKA_MODIFIABLE, Kind::Flag},
    {CKA_COPYABLE, Kind::Flag},
    {CKA_CLASS, Kind::ULong},
    {CKA_ID, Kind::Bytes},
    {CKA_START_DATE, Kind::Date},
    {CKA_END_DATE, Kind::Date},
    {CKA_KEY_TYPE, Kind::ULong},
    {CKA_DERIVE, Kind::Flag},
    {CKA_LOCAL, Kind::Flag},
    {CKA_KEY_GEN_MECHANISM, Kind::ULong},
    {CKA_ALLOWED_MECHANISMS, Kind::Bytes},
    {CKA_SUBJECT, Kind::Bytes},
    {CKA_SENSITIVE, Kind::Flag},
    {CKA_DECRYPT, Kind::Flag},
    {CKA_SIGN, Kind::Flag},
    {CKA_SIGN_RECOVER, Kind::Flag},
    {CKA_UNWRAP, Kind::Flag},
    {CKA_EXTRACTABLE, Kind::Flag},
    {CKA_NEVER_EXTRACTABLE, Kind::Flag},
    {CKA_ALWAYS_SENSITIVE, Kind::Flag},
    {CKA_ALWAYS_AUTHENTICATE, Kind::Flag},
    {CKA_WRAP_WITH_TRUSTED, Kind::Flag},
    {CKA_UNWRAP_TEMPLATE, Kind::Bytes},
    {CKA_WRAP_TEMPLATE, Kind::Bytes},
    {CKA_ENCRYPT, Kind::Flag},
    {CKA_VERIFY, Kind::Flag},
    {CKA_VERIFY_RECOVER, Kind::Flag},
    {CKA_WRAP, Kind::Flag},
    {CKA_TRUSTED, Kind::Flag},
    {CKA_CHECK_VALUE, Kind::Bytes},
    {CKA_APPLICATION, Kind::Bytes},
    {CKA_ZR_KEY_GENERATION_DATE, Kind::Bytes},
};

// Every value worth trying for a type: both flags, a byte string, a number, a date, and a
// value of the wrong width.
std::vector<Attrs> Templates(const TypeCase& c) {
    std::vector<Attrs> out;
    auto add = [&out](const std::function<void(Attrs&)>& fill) {
        out.emplace_back();
        fill(out.back());
    };
    switch (c.kind) {
        case Kind::Flag:
            add([&](Attrs& a) { a.Bool(c.type, true); });
            add([&](Attrs& a) { a.Bool(c.type, false); });
            add([&](Attrs& a) { a.Text(c.type, "xy"); });
            break;
        case Kind::Bytes: add([&](Attrs& a) { a.Text(c.type, "value"); }); break;
        case Kind::ULong: add([&](Attrs& a) { a.ULong(c.type, 1); }); break;
        case Kind::Date:
            add([&](Attrs& a) { a.Text(c.type, "20261210"); });
            add([&](Attrs& a) { a.Text(c.type, "2026"); });
            break;
    }
    return out;
}

// The verdict of the class's update against the verdict of its base's update alone.
template <class Fake, class Base>
void ExpectSameVerdicts(const char* name, bool copying) {
    for (const TypeCase& c : kBaseTypes) {
        std::vector<Attrs> templates = Templates(c);
        for (size_t i = 0; i < templates.size(); ++i) {
            SCOPED_TRACE(testing::Message() << name << (copying ? " copying" : "") << ", type 0x" << std::hex << c.type
                                            << ", value " << i);
            Fake checked;
            Fake plain;
            checked.SetCopyMode(copying ? zrck::TokStorageObject::COPY_MODE : 0);
            plain.SetCopyMode(checked.GetCopyMode());
            const CK_RV viaCheck = Update(checked, templates[i]);
            auto tmpl = templates[i].Make();
            CK_RV viaBase = CKR_OK;
            const CK_RV thrown = CodeOf([&] { viaBase = plain.Base::UpdateAttributes(*tmpl); });
            EXPECT_EQ(viaCheck, thrown != CKR_OK ? thrown : viaBase);
        }
    }
}

TEST(UpdateCheck, AgreesWithTheBaseRulesOfEveryLevel) {
    for (bool copying : {false, true}) {
        ExpectSameVerdicts<FakeRsaPrivateKey, zrck::TokPrivateKey>("private key", copying);
        ExpectSameVerdicts<FakeECDsaPublicKey, zrck::TokPublicKey>("public key", copying);
        ExpectSameVerdicts<FakeDES3SecretKey, zrck::TokSecretKey>("secret key", copying);
        ExpectSameVerdicts<FakeUASgnDomainParams, zrck::TokStorageObject>("domain parameters", copying);
    }
}

}  // namespace
