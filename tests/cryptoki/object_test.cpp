// Creating, copying, reading, changing and destroying objects through the C_ functions,
// with the token, private and read-only rules of a session.
#include <dlfcn.h>

#include <atomic>
#include <thread>

#include "object_fixture.h"

namespace {

struct CreateCase {
    const char* name;
    bool readOnlySession;
    bool userLogged;
    int token;  // -1 absent, else the CKA_TOKEN value
    bool isPrivate;
    CK_RV expected;
};

class CreateRules : public ObjectTest, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(CreateRules, DecideBeforeAnythingIsLeft) {
    const CreateCase& c = GetParam();
    CK_SESSION_HANDLE session = c.readOnlySession ? Open(0, CKF_SERIAL_SESSION) : rw;
    if (c.userLogged) {
        ASSERT_EQ(CKR_OK, UserLogin(rw));
    }
    Template attributes;
    attributes.Ulong(CKA_CLASS, CKO_DATA).Bytes(CKA_LABEL, "probe").Bool(CKA_PRIVATE, c.isPrivate);
    if (c.token >= 0) attributes.Bool(CKA_TOKEN, c.token != 0);
    CK_OBJECT_HANDLE handle = 0;
    EXPECT_EQ(c.expected, Create(session, attributes, &handle));
    if (c.expected != CKR_OK) {
        UserLogin(rw);  // already logged in or not: the search must see private leftovers
        EXPECT_EQ(0u, CountLabelled(rw, "probe"));
        return;
    }
    EXPECT_EQ(c.token == 0 ? 0 : 1, ReadBool(session, handle, CKA_TOKEN));
}

INSTANTIATE_TEST_SUITE_P(
    Objects, CreateRules,
    ::testing::Values(CreateCase{"DefaultIsTokenSoReadOnlyRefuses", true, true, -1, false, CKR_SESSION_READ_ONLY},
                      CreateCase{"SessionObjectInReadOnlySession", true, false, 0, false, CKR_OK},
                      CreateCase{"PublicTokenObjectNeedsLogin", false, false, 1, false, CKR_USER_NOT_LOGGED_IN},
                      CreateCase{"PrivateSessionObjectNeedsLogin", false, false, 0, true, CKR_USER_NOT_LOGGED_IN},
                      CreateCase{"PrivateTokenObjectWithLogin", false, true, 1, true, CKR_OK},
                      CreateCase{"PublicSessionObjectWithoutLogin", false, false, 0, false, CKR_OK}),
    [](const ::testing::TestParamInfo<CreateCase>& info) { return std::string(info.param.name); });

TEST_F(ObjectTest, BadCreationTemplatesAreRefused) {
    CK_OBJECT_HANDLE handle = 0;
    Template data = Data("x", false, false);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_CreateObject(rw, data.Data(), 0, &handle));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, p11->C_CreateObject(rw, data.Data(), data.Count(), nullptr));
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID,
              Create(rw, Template().Bytes(CKA_CLASS, std::string(2, '\0')).Bool(CKA_TOKEN, false)));
    EXPECT_EQ(CKR_TEMPLATE_INCOMPLETE, Create(rw, Template().Ulong(CKA_CLASS, CKO_HW_FEATURE).Bool(CKA_TOKEN, false)));
    EXPECT_EQ(CKR_TEMPLATE_INCONSISTENT, Create(rw, Data("x", false, false).Bool(CKA_TOKEN, false)));
}

TEST_F(ObjectTest, AFailedWriteLeavesNoObject) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    EXPECT_EQ(CKR_DEVICE_MEMORY, Create(rw, Data(zrtest::TOY_NO_ROOM_LABEL, true, false)));
    EXPECT_EQ(0u, CountLabelled(rw, zrtest::TOY_NO_ROOM_LABEL));
}

TEST_F(ObjectTest, TransactionsOfOneSessionDoNotMix) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const int rounds = 200;
    std::thread failing([&] {
        for (int i = 0; i < rounds; ++i) {
            EXPECT_EQ(CKR_DEVICE_MEMORY, Create(rw, Data(zrtest::TOY_NO_ROOM_LABEL, true, false)));
        }
    });
    for (int i = 0; i < rounds; ++i) EXPECT_EQ(CKR_OK, Create(rw, Data("kept", true, false)));
    failing.join();
    EXPECT_EQ(static_cast<size_t>(rounds), CountLabelled(rw, "kept"));
    EXPECT_EQ(0u, CountLabelled(rw, zrtest::TOY_NO_ROOM_LABEL));
}

TEST_F(ObjectTest, GetAttributeValueAnswersEveryEntry) {
    const CK_OBJECT_HANDLE object = MustCreate(rw, Data("label", false, false));
    CK_BBOOL token = 2;
    char shortLabel[2];
    CK_ULONG valueLen = 0;
    CK_ATTRIBUTE records[] = {{CKA_TOKEN, &token, sizeof token},
                              {CKA_VALUE_LEN, &valueLen, sizeof valueLen},
                              {CKA_LABEL, shortLabel, sizeof shortLabel},
                              {CKA_MODIFIABLE, nullptr, 0}};
    const CK_RV rv = p11->C_GetAttributeValue(rw, object, records, 4);
    EXPECT_TRUE(rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_BUFFER_TOO_SMALL) << rv;
    EXPECT_EQ(CK_FALSE, token);
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, records[1].ulValueLen);
    EXPECT_EQ(5u, records[2].ulValueLen);
    EXPECT_EQ(1u, records[3].ulValueLen);

    const CK_OBJECT_HANDLE secret = MustCreate(rw, Secret("0123", {CKA_SENSITIVE}));
    char value[8];
    CK_ATTRIBUTE hidden{CKA_VALUE, value, sizeof value};
    EXPECT_EQ(CKR_ATTRIBUTE_SENSITIVE, p11->C_GetAttributeValue(rw, secret, &hidden, 1));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, hidden.ulValueLen);
    hidden.ulValueLen = sizeof value;
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_GetAttributeValue(rw, 0, &hidden, 1));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_GetAttributeValue(rw, 9999, &hidden, 1));
}

TEST_F(ObjectTest, PrivateObjectsExistOnlyForTheLoggedUser) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE object = MustCreate(rw, Data("secret", true, true));
    ASSERT_EQ(CKR_OK, p11->C_Logout(rw));
    CK_ULONG size = 0;
    EXPECT_EQ(-1, ReadBool(rw, object, CKA_TOKEN));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_GetObjectSize(rw, object, &size));
    Template label = Template().Bytes(CKA_LABEL, "other");
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_SetAttributeValue(rw, object, label.Data(), label.Count()));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_DestroyObject(rw, object));
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    EXPECT_EQ(1, ReadBool(rw, object, CKA_PRIVATE));
    EXPECT_EQ(CKR_OK, p11->C_GetObjectSize(rw, object, &size));
    EXPECT_EQ(100u, size);
}

TEST_F(ObjectTest, SetAttributeValueRules) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE tokenObject = MustCreate(rw, Data("t", true, false));
    const CK_OBJECT_HANDLE fixed = MustCreate(rw, Data("fixed", false, false).Bool(CKA_MODIFIABLE, false));
    const CK_SESSION_HANDLE ro = Open(0, CKF_SERIAL_SESSION);
    Template label = Template().Bytes(CKA_LABEL, "renamed");
    EXPECT_EQ(CKR_SESSION_READ_ONLY, p11->C_SetAttributeValue(ro, tokenObject, label.Data(), label.Count()));
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(rw, fixed, label.Data(), label.Count()));
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(rw, tokenObject, Template().Bool(CKA_TOKEN, false).Data(), 1));
    EXPECT_EQ(CKR_OK, p11->C_SetAttributeValue(rw, tokenObject, label.Data(), label.Count()));
    EXPECT_EQ("renamed", ReadBytes(ro, tokenObject, CKA_LABEL));
    ASSERT_EQ(CKR_OK, p11->C_Logout(rw));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, p11->C_SetAttributeValue(rw, tokenObject, label.Data(), label.Count()));
}

TEST_F(ObjectTest, CopyRules) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE source = MustCreate(rw, Data("source", false, false));
    const CK_OBJECT_HANDLE noCopy = MustCreate(rw, Data("nocopy", false, false).Bool(CKA_COPYABLE, false));
    const CK_OBJECT_HANDLE fixed = MustCreate(rw, Data("fixed", false, false).Bool(CKA_MODIFIABLE, false));
    const CK_OBJECT_HANDLE privateToken = MustCreate(rw, Data("pt", true, true));
    const CK_SESSION_HANDLE ro = Open(0, CKF_SERIAL_SESSION);
    CK_OBJECT_HANDLE copy = 0;
    Template sameClass = Template().Ulong(CKA_CLASS, CKO_DATA);
    EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, p11->C_CopyObject(rw, source, sameClass.Data(), 1, &copy));
    EXPECT_EQ(CKR_COPY_PROHIBITED, p11->C_CopyObject(rw, noCopy, nullptr, 0, &copy));
    Template regain = Template().Bool(CKA_MODIFIABLE, true);
    EXPECT_EQ(CKR_ATTRIBUTE_READ_ONLY, p11->C_CopyObject(rw, fixed, regain.Data(), 1, &copy));
    Template asSession = Template().Bool(CKA_TOKEN, false);
    EXPECT_EQ(CKR_SESSION_READ_ONLY, p11->C_CopyObject(ro, privateToken, asSession.Data(), 1, &copy));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_CopyObject(rw, 0, nullptr, 0, &copy));

    ASSERT_EQ(CKR_OK, p11->C_CopyObject(rw, source, nullptr, 0, &copy));
    EXPECT_NE(source, copy);
    EXPECT_EQ("source", ReadBytes(rw, copy, CKA_LABEL));
    Template giveUp = Template().Bool(CKA_MODIFIABLE, false).Bool(CKA_TOKEN, true);
    ASSERT_EQ(CKR_OK, p11->C_CopyObject(rw, source, giveUp.Data(), giveUp.Count(), &copy));
    EXPECT_EQ(0, ReadBool(rw, copy, CKA_MODIFIABLE));
    EXPECT_EQ(1, ReadBool(rw, copy, CKA_TOKEN));
    EXPECT_EQ(3u, CountLabelled(rw, "source"));
}

TEST_F(ObjectTest, DestroyRules) {
    ASSERT_EQ(CKR_OK, UserLogin(rw));
    const CK_OBJECT_HANDLE tokenObject = MustCreate(rw, Data("t", true, false));
    const CK_SESSION_HANDLE ro = Open(0, CKF_SERIAL_SESSION);
    const CK_OBJECT_HANDLE own = MustCreate(ro, Data("s", false, false));
    const std::vector<CK_OBJECT_HANDLE> mechanisms = Find(rw, Template().Ulong(CKA_CLASS, CKO_MECHANISM));
    ASSERT_FALSE(mechanisms.empty());
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_DestroyObject(rw, 0));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_DestroyObject(rw, mechanisms[0]));
    EXPECT_EQ(CKR_SESSION_READ_ONLY, p11->C_DestroyObject(ro, tokenObject));
    EXPECT_EQ(CKR_OK, p11->C_DestroyObject(ro, own));
    EXPECT_EQ(CKR_OBJECT_HANDLE_INVALID, p11->C_DestroyObject(ro, own));
    EXPECT_EQ(CKR_OK, p11->C_DestroyObject(rw, tokenObject));
    EXPECT_EQ(-1, ReadBool(rw, tokenObject, CKA_TOKEN));
}

TEST_F(ObjectTest, DestroyWaitsForAnObjectInUseWithoutTheStorageLock) {
    auto hold = reinterpret_cast<void (*)(CK_BBOOL)>(dlsym(module.handle, "ZrFake_HoldSlowDigests"));
    auto slowDigests = reinterpret_cast<CK_ULONG (*)()>(dlsym(module.handle, "ZrFake_SlowDigests"));
    auto storageWhileInUse = reinterpret_cast<CK_ULONG (*)()>(dlsym(module.handle, "ZrFake_StorageWhileInUse"));
    ASSERT_TRUE(hold != nullptr && slowDigests != nullptr && storageWhileInUse != nullptr);
    const CK_ULONG before = storageWhileInUse();
    const CK_OBJECT_HANDLE key = MustCreate(rw, Secret(zrtest::TOY_SLOW_KEY_VALUE, {}));
    const CK_SESSION_HANDLE other = Open(0);
    const CK_SESSION_HANDLE watcher = Open(0);
    EXPECT_NE(-1, ReadBool(watcher, key, CKA_TOKEN)) << "the watcher sees the key";
    CK_MECHANISM digest{zrtest::TOY_DIGEST, nullptr, 0};
    ASSERT_EQ(CKR_OK, p11->C_DigestInit(other, &digest));
    hold(CK_TRUE);
    std::thread user([&] { EXPECT_EQ(CKR_OK, p11->C_DigestKey(other, key)); });
    while (slowDigests() == 0) std::this_thread::yield();
    std::atomic<bool> destroyEnded{false};
    std::thread destroyer([&] {
        EXPECT_EQ(CKR_OK, p11->C_DestroyObject(rw, key));
        destroyEnded = true;
    });
    // The destroy has marked the key (which hides it) and waits for the digest to let it go.
    while (!destroyEnded && ReadBool(watcher, key, CKA_TOKEN) != -1) std::this_thread::yield();
    EXPECT_FALSE(destroyEnded) << "destroyed while in use";
    hold(CK_FALSE);
    destroyer.join();
    user.join();
    EXPECT_EQ(before, storageWhileInUse()) << "a storage step began while the key was in use";
    EXPECT_EQ(-1, ReadBool(rw, key, CKA_TOKEN));
}

TEST_F(ObjectTest, SessionObjectsBelongToTheirSession) {
    const CK_SESSION_HANDLE other = Open(0);
    const CK_OBJECT_HANDLE kept = MustCreate(other, Data("kept", false, false));
    const CK_OBJECT_HANDLE destroyedElsewhere = MustCreate(other, Data("gone", false, false));
    EXPECT_EQ(1, ReadBool(rw, kept, CKA_MODIFIABLE));
    EXPECT_EQ(CKR_OK, p11->C_DestroyObject(rw, destroyedElsewhere));
    EXPECT_EQ(CKR_OK, p11->C_CloseSession(other));
    EXPECT_EQ(-1, ReadBool(rw, kept, CKA_MODIFIABLE));
    EXPECT_EQ(0u, CountLabelled(rw, "kept"));
}

}  // namespace
