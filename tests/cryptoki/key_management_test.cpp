// Key generation, key pairs, derivation, wrapping and unwrapping through the C_ functions on
// the toy mechanisms, with the object rules and the creation transaction.
#include <dlfcn.h>

#include "object_fixture.h"

namespace {

using zrtest::TOY_CIPHER;
using zrtest::TOY_DERIVE;
using zrtest::TOY_KEY_GEN;
using zrtest::TOY_KEY_PAIR_GEN;
using zrtest::TOY_SIGN;

class KeyTest : public ObjectTest {
protected:
    CK_RV Generate(CK_SESSION_HANDLE session, Template attributes, CK_OBJECT_HANDLE* key) {
        CK_MECHANISM mechanism{TOY_KEY_GEN, nullptr, 0};
        return p11->C_GenerateKey(session, &mechanism, attributes.Data(), attributes.Count(), key);
    }
    CK_RV GeneratePair(Template publicAttributes, Template privateAttributes, CK_OBJECT_HANDLE* publicKey,
                       CK_OBJECT_HANDLE* privateKey) {
        CK_MECHANISM mechanism{TOY_KEY_PAIR_GEN, nullptr, 0};
        return p11->C_GenerateKeyPair(rw, &mechanism, publicAttributes.Data(), publicAttributes.Count(),
                                      privateAttributes.Data(), privateAttributes.Count(), publicKey, privateKey);
    }
    CK_RV Derive(CK_OBJECT_HANDLE base, std::string parameter, Template attributes, CK_OBJECT_HANDLE* key) {
        CK_MECHANISM mechanism{TOY_DERIVE, parameter.empty() ? nullptr : Bytes(parameter), parameter.size()};
        return p11->C_DeriveKey(rw, &mechanism, base, attributes.Data(), attributes.Count(), key);
    }
    CK_RV Wrap(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE wrapping, CK_OBJECT_HANDLE key, std::string* out,
               CK_ULONG* length) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        return p11->C_WrapKey(rw, &mechanism, wrapping, key, out ? Bytes(*out) : nullptr, length);
    }
    CK_RV Unwrap(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE unwrapping, std::string wrapped, Template attributes,
                 CK_OBJECT_HANDLE* key) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        return p11->C_UnwrapKey(rw, &mechanism, unwrapping, Bytes(wrapped), wrapped.size(), attributes.Data(),
                                attributes.Count(), key);
    }
    static Template SessionKey() { return Template().Bool(CKA_TOKEN, false).Bool(CKA_PRIVATE, false); }
    static Template GenericSecret() {
        return SessionKey().Ulong(CKA_CLASS, CKO_SECRET_KEY).Ulong(CKA_KEY_TYPE, CKK_GENERIC_SECRET);
    }
    size_t KeyCount() {
        return Find(rw, Template().Ulong(CKA_CLASS, CKO_SECRET_KEY)).size() +
               Find(rw, Template().Ulong(CKA_CLASS, CKO_PUBLIC_KEY)).size() +
               Find(rw, Template().Ulong(CKA_CLASS, CKO_PRIVATE_KEY)).size();
    }
};

TEST_F(KeyTest, GenerateKeyChecksTheCompletedTemplateFirst) {
    CK_OBJECT_HANDLE key = 0;
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, Generate(rw, Template(), &key));
    EXPECT_EQ(CKR_TEMPLATE_INCONSISTENT, Generate(rw, SessionKey().Bool(CKA_NEVER_EXTRACTABLE, false), &key));
    ASSERT_EQ(CKR_OK, Generate(rw, SessionKey().Bool(CKA_SENSITIVE, true), &key));
    EXPECT_EQ(1, ReadBool(rw, key, CKA_LOCAL));
    EXPECT_EQ(1, ReadBool(rw, key, CKA_ALWAYS_SENSITIVE));

    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const size_t before = KeyCount();
    const CK_SESSION_HANDLE ro = Open(0, CKF_SERIAL_SESSION);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, Generate(ro, Template(), &key));
    EXPECT_EQ(before, KeyCount());
    EXPECT_EQ(CKR_ARGUMENTS_BAD, Generate(rw, Template(), nullptr));
}

TEST_F(KeyTest, AKeyIncubatedTwiceIsRegisteredOnce) {
    auto registrations = reinterpret_cast<CK_ULONG (*)(CK_SLOT_ID)>(dlsym(module.handle, "ZrFake_ObjectRegistrations"));
    ASSERT_NE(nullptr, registrations);
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_ULONG before = registrations(0);
    CK_OBJECT_HANDLE key = 0;
    // The toy makes the key through the session, and the key operation incubates it again.
    ASSERT_EQ(CKR_OK, Generate(rw, Template().Bool(CKA_TOKEN, true), &key));
    EXPECT_EQ(before + 2, registrations(0));  // with its handle, then at commit
}

TEST_F(KeyTest, KeyPairsAndTheirRollback) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(CKR_OK, GeneratePair(SessionKey(), SessionKey(), &publicKey, &privateKey));
    EXPECT_LT(privateKey, publicKey);
    EXPECT_EQ(1, ReadBool(rw, privateKey, CKA_LOCAL));
    EXPECT_EQ(CKR_TEMPLATE_INCONSISTENT,
              GeneratePair(SessionKey(), SessionKey().Bool(CKA_ALWAYS_SENSITIVE, true), &publicKey, &privateKey));

    // The public key cannot be written after the private one was: neither remains.
    const size_t before = KeyCount();
    Template full = Template().Bool(CKA_TOKEN, true).Bytes(CKA_LABEL, zrtest::TOY_NO_ROOM_LABEL);
    EXPECT_EQ(CKR_DEVICE_MEMORY, GeneratePair(full, Template().Bool(CKA_TOKEN, true), &publicKey, &privateKey));
    EXPECT_EQ(before, KeyCount());
}

TEST_F(KeyTest, DeriveKey) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE base = MustCreate(rw, Secret("base", {CKA_DERIVE}));
    const CK_OBJECT_HANDLE noDerive = MustCreate(rw, Secret("base", {}));
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(CKR_OK, Derive(base, "+data", SessionKey().Bool(CKA_SENSITIVE, false), &key));
    EXPECT_EQ("base+data", ReadBytes(rw, key, CKA_VALUE));
    EXPECT_EQ(CKR_KEY_FUNCTION_NOT_PERMITTED, Derive(noDerive, "x", SessionKey(), &key));
    EXPECT_EQ(CKR_KEY_HANDLE_INVALID, Derive(0, "x", SessionKey(), &key));

    // Nowhere to put the handle of a new key: refused, and the key goes again.
    const size_t before = KeyCount();
    EXPECT_EQ(CKR_ARGUMENTS_BAD, Derive(base, "x", SessionKey(), nullptr));
    EXPECT_EQ(before, KeyCount());

    Template priv = SessionKey().Ulong(CKA_CLASS, CKO_PRIVATE_KEY).Bool(CKA_DERIVE, true);
    const CK_OBJECT_HANDLE privateBase = MustCreate(rw, priv);
    EXPECT_EQ(CKR_OK, Derive(privateBase, "", SessionKey(), nullptr));  // makes no key
    ASSERT_EQ(CKR_OK, Derive(privateBase, "v", SessionKey().Bool(CKA_SENSITIVE, true), &key));
    EXPECT_EQ(0, ReadBool(rw, key, CKA_ALWAYS_SENSITIVE));  // the base key was never always sensitive
    const CK_OBJECT_HANDLE sensitiveBase = MustCreate(rw, priv.Bool(CKA_ALWAYS_SENSITIVE, true));
    ASSERT_EQ(CKR_OK, Derive(sensitiveBase, "v", SessionKey().Bool(CKA_SENSITIVE, true), &key));
    EXPECT_EQ(1, ReadBool(rw, key, CKA_ALWAYS_SENSITIVE));
    ASSERT_EQ(CKR_OK, Derive(sensitiveBase, "v", SessionKey().Bool(CKA_SENSITIVE, false), &key));
    EXPECT_EQ(0, ReadBool(rw, key, CKA_ALWAYS_SENSITIVE));
}

TEST_F(KeyTest, WrapRules) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE wrapping = MustCreate(rw, Secret("\x01", {CKA_WRAP, CKA_UNWRAP}));
    const CK_OBJECT_HANDLE key = MustCreate(rw, Secret("ABC", {}));
    const CK_OBJECT_HANDLE locked = MustCreate(rw, Secret("ABC", {}).Bool(CKA_EXTRACTABLE, false));
    const CK_OBJECT_HANDLE publicKey = MustCreate(rw, SessionKey().Ulong(CKA_CLASS, CKO_PUBLIC_KEY));
    CK_ULONG length = 0;
    EXPECT_EQ(CKR_DATA_INVALID, Wrap(TOY_CIPHER, 0, key, nullptr, &length));
    EXPECT_EQ(CKR_KEY_UNEXTRACTABLE, Wrap(TOY_CIPHER, 0, locked, nullptr, &length));
    EXPECT_EQ(CKR_KEY_UNEXTRACTABLE, Wrap(TOY_CIPHER, wrapping, locked, nullptr, &length));
    EXPECT_EQ(CKR_KEY_TYPE_INCONSISTENT, Wrap(TOY_CIPHER, wrapping, publicKey, nullptr, &length));
    EXPECT_EQ(CKR_WRAPPING_KEY_HANDLE_INVALID, Wrap(TOY_CIPHER, 4242, key, nullptr, &length));
    EXPECT_EQ(CKR_WRAPPING_KEY_TYPE_INCONSISTENT, Wrap(TOY_SIGN, wrapping, key, nullptr, &length));
    EXPECT_EQ(CKR_KEY_FUNCTION_NOT_PERMITTED, Wrap(TOY_CIPHER, key, key, nullptr, &length));
    EXPECT_EQ(CKR_KEY_HANDLE_INVALID, Wrap(TOY_CIPHER, wrapping, 0, nullptr, &length));

    ASSERT_EQ(CKR_OK, Wrap(TOY_CIPHER, wrapping, key, nullptr, &length));
    EXPECT_EQ(3u, length);
    std::string wrapped(length, '\0');
    CK_ULONG shortLength = length - 1;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, Wrap(TOY_CIPHER, wrapping, key, &wrapped, &shortLength));
    EXPECT_EQ(3u, shortLength);
    ASSERT_EQ(CKR_OK, Wrap(TOY_CIPHER, wrapping, key, &wrapped, &length));
    EXPECT_EQ("@CB", wrapped);
}

TEST_F(KeyTest, UnwrapMakesAKeyThatClaimsNoHistory) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE unwrapping = MustCreate(rw, Secret("\x01", {CKA_WRAP, CKA_UNWRAP}));
    CK_OBJECT_HANDLE key = 0;
    Template claims = GenericSecret().Bool(CKA_SENSITIVE, false);
    ASSERT_EQ(CKR_OK, Unwrap(TOY_CIPHER, unwrapping, "@CB", claims, &key));
    EXPECT_EQ("ABC", ReadBytes(rw, key, CKA_VALUE));
    EXPECT_EQ(0, ReadBool(rw, key, CKA_LOCAL));
    EXPECT_EQ(0, ReadBool(rw, key, CKA_ALWAYS_SENSITIVE));
    EXPECT_EQ(0, ReadBool(rw, key, CKA_NEVER_EXTRACTABLE));
}

TEST_F(KeyTest, UnwrapRules) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE unwrapping = MustCreate(rw, Secret("\x01", {CKA_WRAP, CKA_UNWRAP}));
    const CK_OBJECT_HANDLE noUnwrap = MustCreate(rw, Secret("\x01", {}));
    const CK_OBJECT_HANDLE publicKey = MustCreate(rw, SessionKey().Ulong(CKA_CLASS, CKO_PUBLIC_KEY));
    CK_OBJECT_HANDLE key = 0;
    Template publicClass = SessionKey().Ulong(CKA_CLASS, CKO_PUBLIC_KEY);
    EXPECT_EQ(CKR_TEMPLATE_INCONSISTENT, Unwrap(TOY_CIPHER, unwrapping, "@CB", publicClass, &key));
    EXPECT_EQ(CKR_WRAPPING_KEY_TYPE_INCONSISTENT, Unwrap(TOY_CIPHER, publicKey, "@CB", GenericSecret(), &key));
    EXPECT_EQ(CKR_KEY_FUNCTION_NOT_PERMITTED, Unwrap(TOY_CIPHER, noUnwrap, "@CB", GenericSecret(), &key));
    EXPECT_EQ(CKR_UNWRAPPING_KEY_HANDLE_INVALID, Unwrap(TOY_CIPHER, 4242, "@CB", GenericSecret(), &key));
    EXPECT_EQ(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT, Unwrap(TOY_SIGN, unwrapping, "@CB", GenericSecret(), &key));
    EXPECT_EQ(CKR_MECHANISM_INVALID, Unwrap(TOY_CIPHER, 0, "@CB", GenericSecret(), &key));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, Unwrap(TOY_CIPHER, unwrapping, "", GenericSecret(), &key));
}

}  // namespace
