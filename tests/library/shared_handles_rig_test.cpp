// Handles held by one application (L, this process) while a second one (W, the object_writer
// process, run to its end between L's calls) changes the same token. A handle keeps naming its
// object exactly where the token's files show the same object: untouched objects keep their
// handles whatever W changes, a touched object keeps its handle with the new values where
// C_SetAttributeValue could have made the change, and a key W put in another key's place never
// answers through the old key's handle.
#include <unistd.h>

#include <ctime>
#include <map>

#include "dstu_e2e_fixture.h"
#include "keygen_process.h"

using namespace dstue2e;
using librarytest::KeyKind;
using librarytest::kKeyKinds;

namespace {

class SharedHandles : public DstuE2eTest {
protected:
    void SetUp() override
    {
        Start();
        if (IsSkipped() || HasFatalFailure()) return;
        session = Open();
    }

    // Runs W with these steps (see object_writer.cpp) and waits for its end.
    ::testing::AssertionResult Writer(const std::vector<std::string>& steps)
    {
        return librarytest::WriteInAnotherProcess(steps);
    }

    std::vector<CK_OBJECT_HANDLE> Labelled(const std::string& label, CK_OBJECT_CLASS objectClass)
    {
        return Find({{CKA_CLASS, &objectClass, sizeof objectClass},
                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()}});
    }

    CK_OBJECT_HANDLE One(const std::string& label, CK_OBJECT_CLASS objectClass)
    {
        const std::vector<CK_OBJECT_HANDLE> found = Labelled(label, objectClass);
        EXPECT_EQ(found.size(), 1u) << label;
        return found.empty() ? CK_INVALID_HANDLE : found[0];
    }

    std::string Text(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV* rv)
    {
        const Bytes value = Attribute(object, type, rv);
        return std::string(value.begin(), value.end());
    }
};

// ---- untouched handles survive every change of another process ----

struct Held {
    std::string key;  // the label it was made with
    CK_OBJECT_CLASS objectClass;
    std::string value;
    std::string label;
};

struct Change {
    const char* name;
    std::vector<std::string> steps;
    // The object the change touches ("" none), with its label and value afterwards.
    const char* touched;
    const char* label;
    const char* value;
    bool replaced = false;  // another object now: the old handle is invalid, the new one is found
};

class UntouchedHandles : public SharedHandles, public ::testing::WithParamInterface<bool> {};

TEST_P(UntouchedHandles, SurviveEveryChangeOfAnotherProcess) {
    const bool loggedIn = GetParam();
    std::vector<Held> held = {{"d1", CKO_DATA, "one", "d1"},          {"d2", CKO_DATA, "two", "d2"},
                              {"d3", CKO_DATA, "three", "d3"},        {"c1", CKO_CERTIFICATE, "cert one", "c1"},
                              {"c2", CKO_CERTIFICATE, "cert two", "c2"}, {"x", CKO_DATA, "x value", "x"}};
    // An attribute file longer than one write command is replaced by a new file when it changes.
    const std::string longLabel(200, 'l');
    const std::string otherLongLabel(200, 'm');
    held.push_back({longLabel, CKO_DATA, "long", longLabel});
    if (loggedIn) held.push_back({"p", CKO_DATA, "private", "p"});
    ASSERT_TRUE(Writer({"data:d1:one", "data:d2:two", "data:d3:three", "cert:c1:cert one", "cert:c2:cert two",
                        "data:x:x value", "private:p:private", "data:" + longLabel + ":long"}));
    if (loggedIn) {
        ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    }
    std::map<std::string, CK_OBJECT_HANDLE> handles;
    for (const Held& object : held) {
        handles[object.key] = One(object.key, object.objectClass);
        CK_RV rv = CKR_OK;
        ASSERT_EQ(Text(handles[object.key], CKA_VALUE, &rv), object.value);
    }

    const Change changes[] = {
        {"long attribute file replaced", {"label:" + longLabel + ":" + otherLongLabel}, longLabel.c_str(),
         otherLongLabel.c_str(), "long"},
        {"private object created", {"private:p2:v"}, "", "", ""},
        {"private object relabelled", {"label:p2:p3"}, "", "", ""},
        {"private object destroyed", {"destroy:p3"}, "", "", ""},
        // Made again by the process that destroyed it: files of its own, so another object.
        {"identical object made again", {"destroy:x", "data:x:x value"}, "x", "x", "x value", true},
        {"own label written again", {"label:d1:d1"}, "d1", "d1", "one"},
        {"data value written", {"value:d2:two again"}, "d2", "d2", "two again"},
        {"certificate relabelled", {"label:c1:c1 renamed"}, "c1", "c1 renamed", "cert one"},
        {"user PIN initialised", {"initpin"}, "", "", ""},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        ASSERT_TRUE(Writer(change.steps));
        unsigned failed = 0;
        for (Held& object : held) {
            if (object.key == change.touched) {
                object.label = change.label;
                object.value = change.value;
                if (change.replaced) {
                    CK_RV rv = CKR_OK;
                    Text(handles[object.key], CKA_LABEL, &rv);
                    EXPECT_EQ(rv, CKR_OBJECT_HANDLE_INVALID) << object.key;
                    handles[object.key] = One(object.label, object.objectClass);
                }
            }
            CK_RV labelRv = CKR_OK;
            CK_RV valueRv = CKR_OK;
            const std::string label = Text(handles[object.key], CKA_LABEL, &labelRv);
            const std::string value = Text(handles[object.key], CKA_VALUE, &valueRv);
            if (labelRv != CKR_OK || valueRv != CKR_OK) ++failed;
            EXPECT_EQ(labelRv, CKR_OK) << object.key;
            EXPECT_EQ(label, object.label);
            EXPECT_EQ(value, object.value);
            EXPECT_EQ(Labelled(object.label, object.objectClass), std::vector<CK_OBJECT_HANDLE>{handles[object.key]})
                << object.key << ": a search shows the same handle, and no twin";
        }
        EXPECT_EQ(failed, 0u) << "handles that failed";
    }
}

INSTANTIATE_TEST_SUITE_P(Login, UntouchedHandles, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "LoggedIn" : "NotLoggedIn");
                         });

// ---- a key put in another key's place never answers through the old handle ----

// What W does to K1 (labelled k1), at least one second after K1 was made.
struct Replacement {
    const char* name;
    bool privateOnly;         // only K1's private key is destroyed, else both halves (after a pair U)
    const char* newLabel;     // K2's label (its CKA_ID is K1's)
    bool signInitBefore;      // L's C_SignInit runs before W acts, C_Sign after
};

const Replacement kReplacements[] = {
    {"PrivateOnlyOtherLabel", true, "k2", false},
    {"PrivateOnlySameLabel", true, "k1", false},
    {"BothHalvesAfterAnotherPair", false, "k2", false},
    {"BothHalvesSignInitBefore", false, "k2", true},
};

class ReplacedKey : public SharedHandles,
                    public ::testing::WithParamInterface<std::tuple<KeyKind, Replacement>> {};

TEST_P(ReplacedKey, OldHandleNeverSignsWithTheNewKey) {
    const KeyKind& kind = std::get<0>(GetParam());
    const Replacement& replacement = std::get<1>(GetParam());
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    const Bytes params = kind.generation == CKM_DSTU4145_KEY_PAIR_GEN ? CurveParams(kCurves[2]) : kind.params;
    const std::string pair = std::to_string(kind.generation) + ":";
    const std::string hex = librarytest::UpperHex(params);
    ASSERT_TRUE(Writer({"keypair:" + pair + "k1:" + hex}));
    const std::time_t made = std::time(nullptr);
    const CK_OBJECT_HANDLE oldPrivate = One("k1", CKO_PRIVATE_KEY);
    const CK_OBJECT_HANDLE oldPublic = One("k1", CKO_PUBLIC_KEY);
    const Bytes data(32, 0x5A);
    const Bytes signature = Sign(kind.signature, oldPrivate, data);
    ASSERT_EQ(Verify(kind.signature, oldPublic, data, signature), CKR_OK);

    // K2 gets another key generation date than K1.
    while (std::time(nullptr) <= made) usleep(20000);
    CK_MECHANISM mechanism{kind.signature, nullptr, 0};
    if (replacement.signInitBefore) {
        ASSERT_EQ(p11->C_SignInit(session, &mechanism, oldPrivate), CKR_OK);
    }
    std::vector<std::string> steps;
    if (replacement.privateOnly) {
        steps = {"destroyprivate:k1"};
    } else {
        steps = {"keypair:" + pair + "u:" + hex, "destroy:k1"};
    }
    steps.push_back("keypair:" + pair + replacement.newLabel + ":" + hex);
    ASSERT_TRUE(Writer(steps));

    CK_RV rv = CKR_OK;
    if (!replacement.signInitBefore) rv = p11->C_SignInit(session, &mechanism, oldPrivate);
    Bytes stale(512);
    CK_ULONG length = stale.size();
    if (rv == CKR_OK) rv = p11->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), stale.data(), &length);
    EXPECT_EQ(rv, CKR_KEY_HANDLE_INVALID);
    if (rv == CKR_OK) {
        stale.resize(length);
        const std::vector<CK_OBJECT_HANDLE> keys = Labelled(replacement.newLabel, CKO_PUBLIC_KEY);
        for (CK_OBJECT_HANDLE key : keys) {
            if (key != oldPublic) {
                EXPECT_NE(Verify(kind.signature, key, data, stale), CKR_OK) << "signed with K2";
            }
        }
    }
    const CK_OBJECT_HANDLE newPrivate = One(replacement.newLabel, CKO_PRIVATE_KEY);
    EXPECT_NE(newPrivate, oldPrivate) << "K2 comes under a new handle";
    const CK_ATTRIBUTE_TYPE publicValue = kind.generation == CKM_RSA_PKCS_KEY_PAIR_GEN ? CKA_MODULUS : CKA_EC_POINT;
    CK_RV read = CKR_OK;
    Attribute(oldPublic, publicValue, &read);
    if (replacement.privateOnly) {
        EXPECT_EQ(read, CKR_OK) << "nobody touched K1's public key";
    } else {
        EXPECT_EQ(read, CKR_OBJECT_HANDLE_INVALID) << "K1's public key was destroyed";
    }
    // K2 works under its own handle.
    const Bytes fresh = Sign(kind.signature, newPrivate, data);
    CK_OBJECT_HANDLE newPublic = CK_INVALID_HANDLE;
    for (CK_OBJECT_HANDLE key : Labelled(replacement.newLabel, CKO_PUBLIC_KEY)) {
        if (key != oldPublic) newPublic = key;
    }
    EXPECT_EQ(Verify(kind.signature, newPublic, data, fresh), CKR_OK);
}

INSTANTIATE_TEST_SUITE_P(Keys, ReplacedKey, ::testing::Combine(::testing::ValuesIn(kKeyKinds),
                                                               ::testing::ValuesIn(kReplacements)),
                         [](const ::testing::TestParamInfo<std::tuple<KeyKind, Replacement>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace

// ---- what C_SetAttributeValue may change, changed by another process, keeps the handle ----

namespace {

std::string Hex(const Bytes& bytes) { return librarytest::UpperHex(bytes); }

}  // namespace

TEST_F(SharedHandles, ChangeableAttributesChangedByAnotherProcessKeepTheHandle) {
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    // A token private key W relabels and gives another CKA_ID (its public half is a session key).
    const Bytes curve = CurveParams(kCurves[2]);
    const KeyPair pair = Generate(curve, "k");
    // A GOST secret key W makes sensitive.
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147_NAT;
    Bytes keyValue(32, 0x3C);
    std::string secretLabel = "g";
    const CK_OBJECT_HANDLE secret = Create({{CKA_CLASS, &secretClass, sizeof secretClass},
                                            {CKA_KEY_TYPE, &gost, sizeof gost},
                                            {CKA_TOKEN, &yes, sizeof yes},
                                            {CKA_SENSITIVE, &no, sizeof no},
                                            {CKA_ENCRYPT, &yes, sizeof yes},
                                            {CKA_LABEL, &secretLabel[0], secretLabel.size()},
                                            {CKA_VALUE, keyValue.data(), keyValue.size()}});
    // A data object whose value W moves twice.
    std::string dataLabel = "d";
    std::string dataValue = "first";
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    const CK_OBJECT_HANDLE data = Create({{CKA_CLASS, &dataClass, sizeof dataClass},
                                          {CKA_TOKEN, &yes, sizeof yes},
                                          {CKA_LABEL, &dataLabel[0], dataLabel.size()},
                                          {CKA_VALUE, &dataValue[0], dataValue.size()}});
    // One with an attribute file longer than one write command, its value read before W moves it.
    std::string longLabel(300, 'd');
    const CK_OBJECT_HANDLE longData = Create({{CKA_CLASS, &dataClass, sizeof dataClass},
                                              {CKA_TOKEN, &yes, sizeof yes},
                                              {CKA_LABEL, &longLabel[0], longLabel.size()},
                                              {CKA_VALUE, &dataValue[0], dataValue.size()}});
    ASSERT_FALSE(HasFailure());
    CK_RV rv = CKR_OK;
    ASSERT_EQ(Text(longData, CKA_VALUE, &rv), "first");

    const Bytes newId = {0x07};
    for (const std::vector<std::string>& steps :
         {std::vector<std::string>{"set:k:" + std::to_string(CKA_ID) + ":" + Hex(newId), "label:k:k2"},
          {"set:g:" + std::to_string(CKA_SENSITIVE) + ":01"},
          {"value:d:second", "value:d:third"},
          {"value:" + longLabel + ":moved"}}) {
        ASSERT_TRUE(Writer(steps)) << steps[0];
    }

    EXPECT_EQ(Attribute(pair.privateKey, CKA_ID, &rv), newId);
    EXPECT_EQ(rv, CKR_OK) << "private key";
    EXPECT_EQ(Text(pair.privateKey, CKA_LABEL, &rv), "k2");
    const Bytes message(32, 0x11);
    EXPECT_EQ(Verify(CKM_DSTU4145, pair.publicKey, message, Sign(CKM_DSTU4145, pair.privateKey, message)), CKR_OK);

    EXPECT_EQ(Flag(secret, CKA_SENSITIVE), 1) << "secret key";
    CK_MECHANISM ecb{CKM_GOST28147_ECB_NAT, nullptr, 0};
    Bytes plain(8, 0x33), cipher(8);
    CK_ULONG length = cipher.size();
    EXPECT_EQ(p11->C_EncryptInit(session, &ecb, secret), CKR_OK);
    EXPECT_EQ(p11->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length), CKR_OK);

    EXPECT_EQ(Text(data, CKA_VALUE, &rv), "third");
    EXPECT_EQ(rv, CKR_OK) << "data object";
    EXPECT_EQ(Text(longData, CKA_VALUE, &rv), "moved");
    EXPECT_EQ(rv, CKR_OK) << "long-labelled data object";
    EXPECT_EQ(Labelled(longLabel, dataClass), std::vector<CK_OBJECT_HANDLE>{longData}) << "no twin";
    for (const auto& [label, objectClass] : std::vector<std::pair<std::string, CK_OBJECT_CLASS>>{
             {"k2", CKO_PRIVATE_KEY}, {"g", CKO_SECRET_KEY}, {"d", CKO_DATA}}) {
        EXPECT_EQ(Labelled(label, objectClass).size(), 1u) << label << ": no twin";
    }
}

// ---- destroy, change and copy through a handle whose object another process changed in place ----

TEST_F(SharedHandles, ActThroughAHandleKeptAcrossAMove) {
    const std::string longLabel(200, 'l');
    const std::string otherLongLabel(200, 'm');
    struct Case {
        const char* name;
        std::string label;
        std::vector<std::string> change;
        std::string after;  // the label and value afterwards
        std::string value;
    } cases[] = {
        {"value moved to a new data file", "v", {"value:v:moved"}, "v", "moved"},
        {"long attribute file replaced", longLabel, {"label:" + longLabel + ":" + otherLongLabel}, otherLongLabel,
         "value"},
    };
    enum Act { Destroy, Relabel, Copy };
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    for (const Act act : {Destroy, Relabel, Copy}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", act " + std::to_string(act));
            ASSERT_TRUE(Writer({"data:" + c.label + ":value"}));
            const CK_OBJECT_HANDLE held = One(c.label, CKO_DATA);
            ASSERT_TRUE(Writer(c.change));
            std::string label = "renamed";
            CK_ATTRIBUTE relabel{CKA_LABEL, &label[0], label.size()};
            CK_OBJECT_HANDLE copy = CK_INVALID_HANDLE;
            switch (act) {
                case Destroy: EXPECT_EQ(p11->C_DestroyObject(session, held), CKR_OK); break;
                case Relabel: EXPECT_EQ(p11->C_SetAttributeValue(session, held, &relabel, 1), CKR_OK); break;
                case Copy: EXPECT_EQ(p11->C_CopyObject(session, held, &relabel, 1, &copy), CKR_OK); break;
            }
            // What a fresh process sees: the object gone, renamed, or beside its copy.
            EXPECT_TRUE(librarytest::FreshProcessFinds(c.after, act == Copy ? 1 : 0));
            EXPECT_TRUE(librarytest::FreshProcessFinds(label, act == Destroy ? 0 : 1));
            if (act != Destroy) {
                CK_RV rv = CKR_OK;
                EXPECT_EQ(Text(act == Copy ? copy : held, CKA_VALUE, &rv), c.value);
                EXPECT_EQ(rv, CKR_OK);
                ASSERT_TRUE(Writer({"destroy:" + label}));
            }
            if (act == Copy) {
                ASSERT_TRUE(Writer({"destroy:" + c.after}));
            }
        }
    }
}

// ---- a running operation goes on when another process moves its key's attribute file ----

TEST_F(SharedHandles, RunningOperationFollowsItsKeyToAReplacedAttributeFile) {
    ASSERT_EQ(Login(session, CKU_USER, kUserPin), CKR_OK);
    const std::string longLabel(200, 'k');
    for (const KeyKind& kind : kKeyKinds) {
        SCOPED_TRACE(kind.name);
        const Bytes params = kind.generation == CKM_DSTU4145_KEY_PAIR_GEN ? CurveParams(kCurves[2]) : kind.params;
        ASSERT_TRUE(Writer({"keypair:" + std::to_string(kind.generation) + ":k:" + librarytest::UpperHex(params)}));
        const CK_OBJECT_HANDLE privateKey = One("k", CKO_PRIVATE_KEY);
        const CK_OBJECT_HANDLE publicKey = One("k", CKO_PUBLIC_KEY);
        CK_MECHANISM mechanism{kind.signature, nullptr, 0};
        ASSERT_EQ(p11->C_SignInit(session, &mechanism, privateKey), CKR_OK);
        // Both halves get a label longer than one write command: their attribute files are replaced.
        ASSERT_TRUE(Writer({"label:k:" + longLabel}));
        const Bytes data(32, 0x5A);
        Bytes signature(512);
        CK_ULONG length = signature.size();
        ASSERT_EQ(p11->C_Sign(session, const_cast<uint8_t*>(data.data()), data.size(), signature.data(), &length),
                  CKR_OK);
        signature.resize(length);
        EXPECT_EQ(Verify(kind.signature, publicKey, data, signature), CKR_OK);
        CK_RV rv = CKR_OK;
        EXPECT_EQ(Text(privateKey, CKA_LABEL, &rv), longLabel);
        ASSERT_TRUE(Writer({"label:" + longLabel + ":k"}));
        EXPECT_EQ(Verify(kind.signature, publicKey, data, Sign(kind.signature, privateKey, data)), CKR_OK);
        EXPECT_EQ(Labelled("k", CKO_PRIVATE_KEY), std::vector<CK_OBJECT_HANDLE>{privateKey}) << "no twin";
        ASSERT_TRUE(Writer({"destroy:k"}));
    }
}
