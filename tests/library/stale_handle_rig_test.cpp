// Handles of token objects while another process destroys and makes objects on the same token:
// a handle names the object it was given for and nothing else, also when the other process's
// new object takes the freed files and key slot, and keeps naming an object nobody changed.
#include <unistd.h>

#include <ctime>

#include "dstu_e2e_fixture.h"
#include "keygen_process.h"

using namespace dstue2e;
using librarytest::GenerateInAnotherProcess;
using librarytest::KeyKind;
using librarytest::kKeyKinds;

namespace {

// The other process destroys, or makes a data object, instead of a key pair.
constexpr CK_MECHANISM_TYPE kNoKeyPair = CK_UNAVAILABLE_INFORMATION;

class StaleHandle : public DstuE2eTest {
protected:
    // The private key labelled `label`, of any key type.
    CK_OBJECT_HANDLE PrivateKey(const std::string& label) {
        CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
        const std::vector<CK_OBJECT_HANDLE> found =
            Find({{CKA_CLASS, &privateClass, sizeof privateClass},
                  {CKA_LABEL, const_cast<char*>(label.data()), label.size()}});
        EXPECT_EQ(found.size(), 1u) << label;
        return found.empty() ? CK_INVALID_HANDLE : found[0];
    }

    CK_RV SignInit(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        return p11->C_SignInit(session, &mechanism, key);
    }

    CK_RV SignOnce() {
        Bytes signature(256);
        CK_ULONG length = signature.size();
        Bytes data(32, 0x5A);
        return p11->C_Sign(session, data.data(), data.size(), signature.data(), &length);
    }

    CK_RV Value(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, std::string& value) {
        char buffer[64];
        CK_ATTRIBUTE read{type, buffer, sizeof buffer};
        const CK_RV rv = p11->C_GetAttributeValue(session, object, &read, 1);
        if (rv == CKR_OK) value.assign(buffer, read.ulValueLen);
        return rv;
    }

    std::vector<CK_OBJECT_HANDLE> DataObjects(const std::string& label) {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        return Find({{CKA_CLASS, &dataClass, sizeof dataClass},
                     {CKA_LABEL, const_cast<char*>(label.data()), label.size()}});
    }

    static Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
};

class StaleKeyHandle : public StaleHandle, public ::testing::WithParamInterface<KeyKind> {
protected:
    // The other process's key pair labelled `label`, made after destroying what carried it.
    // A replacing pair is made in a later second than the pair before it: a pair made again
    // within the same second with the same attributes leaves the files as they were.
    ::testing::AssertionResult Other(const std::string& label, bool replace) {
        const KeyKind& kind = GetParam();
        if (replace) {
            while (std::time(nullptr) <= lastMade_) usleep(20000);
        }
        const ::testing::AssertionResult made = GenerateInAnotherProcess(kind.generation, label, params_, replace);
        lastMade_ = std::time(nullptr);
        return made;
    }

    void SetUp() override {
        StaleHandle::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        params_ = GetParam().params;
        if (GetParam().generation == CKM_DSTU4145_KEY_PAIR_GEN) params_ = CurveParams(kCurves[2]);
    }

    Bytes params_;
    std::time_t lastMade_ = 0;
};

TEST_P(StaleKeyHandle, NeverSignsWithTheKeyThatTookItsPlace) {
    const CK_MECHANISM_TYPE mechanism = GetParam().signature;
    ASSERT_TRUE(Other("kept", false));
    ASSERT_TRUE(Other("k", false));
    const CK_OBJECT_HANDLE kept = PrivateKey("kept");
    const CK_OBJECT_HANDLE first = PrivateKey("k");
    ASSERT_EQ(SignInit(mechanism, first), CKR_OK);
    ASSERT_EQ(SignOnce(), CKR_OK);

    // Another process's change that does not touch the keys leaves their handles alone.
    ASSERT_TRUE(GenerateInAnotherProcess(kNoKeyPair, "unrelated", Text("v"), false));
    ASSERT_EQ(SignInit(mechanism, kept), CKR_OK);
    EXPECT_EQ(SignOnce(), CKR_OK);
    ASSERT_EQ(SignInit(mechanism, first), CKR_OK);
    EXPECT_EQ(SignOnce(), CKR_OK);

    // Destroyed and made again with the same label: the new pair takes the freed key slot and files.
    ASSERT_TRUE(Other("k", true));
    EXPECT_EQ(SignInit(mechanism, first), CKR_KEY_HANDLE_INVALID);
    const CK_OBJECT_HANDLE second = PrivateKey("k");
    EXPECT_NE(second, first) << "the new key comes under a new handle";

    // The change lands between C_SignInit and C_Sign.
    ASSERT_EQ(SignInit(mechanism, second), CKR_OK);
    ASSERT_TRUE(Other("k", true));
    EXPECT_EQ(SignOnce(), CKR_KEY_HANDLE_INVALID);

    // Only destroyed.
    const CK_OBJECT_HANDLE third = PrivateKey("k");
    ASSERT_TRUE(GenerateInAnotherProcess(kNoKeyPair, "k", {}, true));
    EXPECT_EQ(SignInit(mechanism, third), CKR_KEY_HANDLE_INVALID);
    ASSERT_EQ(SignInit(mechanism, PrivateKey("kept")), CKR_OK);
    EXPECT_EQ(SignOnce(), CKR_OK);
}

INSTANTIATE_TEST_SUITE_P(Keys, StaleKeyHandle, ::testing::ValuesIn(kKeyKinds),
                         [](const ::testing::TestParamInfo<KeyKind>& info) { return std::string(info.param.name); });

// Other processes destroy data object x and make another object in the files x left. A data
// object whose files hold another label and value cannot be told from x changed by
// C_SetAttributeValue: the handle stays and reads the new values. A certificate there is
// another object: the old handle answers CKR_OBJECT_HANDLE_INVALID and a search shows the
// certificate under a new handle. Either way an object nobody touched keeps its handle.
struct DataChange {
    const char* name;
    const char* step;  // object_writer's step that makes the new object
    CK_OBJECT_CLASS newClass;
    bool sameHandle;
};

class StaleDataHandle : public StaleHandle, public ::testing::WithParamInterface<DataChange> {
protected:
    ::testing::AssertionResult Writer(const std::vector<std::string>& steps) {
        return librarytest::WriteInAnotherProcess(steps);
    }
};

TEST_P(StaleDataHandle, NamesTheObjectItsFilesShow) {
    ASSERT_TRUE(Writer({"data:kept:kept value", "data:x:old value"}));
    const std::vector<CK_OBJECT_HANDLE> kept = DataObjects("kept");
    const std::vector<CK_OBJECT_HANDLE> old = DataObjects("x");
    ASSERT_EQ(kept.size(), 1u);
    ASSERT_EQ(old.size(), 1u);
    std::string value;
    ASSERT_EQ(Value(old[0], CKA_VALUE, value), CKR_OK);

    // Destroyed by one process, made by the next: y takes the files x left (the highest in use).
    ASSERT_TRUE(Writer({"destroy:x"}));
    ASSERT_TRUE(Writer({GetParam().step}));
    CK_OBJECT_CLASS newClass = GetParam().newClass;
    char label[] = "y";
    const std::vector<CK_OBJECT_HANDLE> fresh =
        Find({{CKA_CLASS, &newClass, sizeof newClass}, {CKA_LABEL, label, 1}});
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(fresh[0] == old[0], GetParam().sameHandle);
    if (GetParam().sameHandle) {
        EXPECT_EQ(Value(old[0], CKA_LABEL, value), CKR_OK);
        EXPECT_EQ(value, "y");
        EXPECT_EQ(Value(old[0], CKA_VALUE, value), CKR_OK);
        EXPECT_EQ(value, "new value");
    } else {
        EXPECT_EQ(Value(old[0], CKA_VALUE, value), CKR_OBJECT_HANDLE_INVALID) << value;
        EXPECT_EQ(Value(old[0], CKA_LABEL, value), CKR_OBJECT_HANDLE_INVALID) << value;
    }

    const std::vector<CK_OBJECT_HANDLE> keptNow = DataObjects("kept");
    EXPECT_EQ(keptNow, kept) << "nobody changed this one";
    ASSERT_EQ(Value(kept[0], CKA_VALUE, value), CKR_OK);
    EXPECT_EQ(value, "kept value");
}

const DataChange kDataChanges[] = {
    {"DataObject", "data:y:new value", CKO_DATA, true},
    {"Certificate", "cert:y:new value", CKO_CERTIFICATE, false},
};

INSTANTIATE_TEST_SUITE_P(Data, StaleDataHandle, ::testing::ValuesIn(kDataChanges),
                         [](const ::testing::TestParamInfo<DataChange>& info) { return std::string(info.param.name); });

}  // namespace
