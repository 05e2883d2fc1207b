// A token object change cut short by a pulled card, at every command of it in turn: the library
// started afresh (as a new process) finds the object whole or finds nothing, never an object
// whose files are gone; an object whose stored value is rewritten keeps the old value or the
// new one.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "rig_gtest.h"
#include "token_road.h"

namespace {

constexpr const char* kUserPin = "12345678";

class InterruptedChangeRig : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = {{"--so-pin", "87654321", "--user-pin", kUserPin}};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        module = dlopen(ZR_REAL_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(module, nullptr) << dlerror();
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
        ASSERT_EQ(getList(&p11), CKR_OK);
    }

    void TearDown() override
    {
        if (p11 != nullptr && session != 0) p11->C_Finalize(nullptr);
        if (module != nullptr) dlclose(module);
        rig.reset();
    }

    // The library from nothing, a session and the user logged in.
    void Start()
    {
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(p11->C_Initialize(&args), CKR_OK);
        CK_SLOT_ID slot = 0;
        CK_ULONG count = 1;
        ASSERT_EQ(p11->C_GetSlotList(CK_TRUE, &slot, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
        ASSERT_EQ(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
        const std::string pin = kUserPin;
        ASSERT_EQ(p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                               pin.size()),
                  CKR_OK);
    }

    void Stop()
    {
        p11->C_Finalize(nullptr);
        session = 0;
    }

    std::string Text(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        char value[128];
        CK_ATTRIBUTE read{type, value, sizeof value};
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, &read, 1), CKR_OK);
        return std::string(value, read.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : read.ulValueLen);
    }

    // Labels of the data objects a fresh library finds; each must be whole: its value is
    // "value of " + label and its application the road's.
    std::vector<std::string> WholeObjects()
    {
        std::vector<std::string> labels;
        for (CK_OBJECT_HANDLE object : road::FindDataObjects(p11, session)) {
            const std::string label = Text(object, CKA_LABEL);
            EXPECT_EQ(Text(object, CKA_VALUE), "value of " + label) << "an object without its files";
            EXPECT_EQ(Text(object, CKA_APPLICATION), "token-road") << label;
            labels.push_back(label);
        }
        std::sort(labels.begin(), labels.end());
        return labels;
    }

    CK_OBJECT_HANDLE Create(const std::string& label) { return road::CreateDataObject(p11, session, label, "value of " + label); }

    // Pulls the card while the command after the first `answered` ones of `change` arrives, puts
    // it back and starts the library afresh.
    void PullDuring(unsigned answered, const std::function<void()>& change)
    {
        rig->Control().PullAfter(answered);
        change();
        rig->Control().ClearFaults();
        Stop();
        ASSERT_TRUE(rig->WaitCardPresent(0, false, std::chrono::seconds(15)));
        rig->InsertCard();
        Start();
    }

    // Commands `change` sends when nothing interrupts it.
    uint64_t CommandsOf(const std::function<void()>& change)
    {
        rig->Control().ResetCounters();
        change();
        return rig->Control().Counters().at("total");
    }

    std::unique_ptr<tokensim::rig::Rig> rig;
    void* module = nullptr;
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    CK_SESSION_HANDLE session = 0;
};

TEST_F(InterruptedChangeRig, DestroyCutAtEveryCommandLeavesTheWholeObjectOrNothing)
{
    Start();
    Create("kept");
    const CK_OBJECT_HANDLE trial = Create("trial");
    // Listed first, as before each victim's deletion below: a deletion checks its object
    // against the listing, and lists only a token it has not listed yet.
    WholeObjects();
    const uint64_t commands = CommandsOf([&] { EXPECT_EQ(p11->C_DestroyObject(session, trial), CKR_OK); });
    ASSERT_GT(commands, 2u);
    for (unsigned k = 0; k < commands; ++k) {
        const std::string label = "victim-" + std::to_string(k);
        const CK_OBJECT_HANDLE victim = Create(label);
        PullDuring(k, [&] { p11->C_DestroyObject(session, victim); });
        const std::vector<std::string> labels = WholeObjects();
        ASSERT_TRUE(labels.size() == 1 || labels.size() == 2) << "pulled after " << k << " commands";
        EXPECT_EQ(labels[0], "kept");
        if (labels.size() == 2) {
            EXPECT_EQ(labels[1], label);
            for (CK_OBJECT_HANDLE object : road::FindDataObjects(p11, session)) {
                if (Text(object, CKA_LABEL) == label) {
                    ASSERT_EQ(p11->C_DestroyObject(session, object), CKR_OK);
                }
            }
        }
    }
    EXPECT_EQ(WholeObjects(), std::vector<std::string>{"kept"});
}

TEST_F(InterruptedChangeRig, CreateCutAtEveryCommandLeavesTheWholeObjectOrNothing)
{
    Start();
    Create("kept");
    const uint64_t commands = CommandsOf([&] { Create("trial"); });
    for (CK_OBJECT_HANDLE object : road::FindDataObjects(p11, session)) {
        if (Text(object, CKA_LABEL) == "trial") {
            ASSERT_EQ(p11->C_DestroyObject(session, object), CKR_OK);
        }
    }
    for (unsigned k = 0; k < commands; ++k) {
        const std::string label = "new-" + std::to_string(k);
        PullDuring(k, [&] {
            CK_OBJECT_CLASS dataClass = CKO_DATA;
            CK_BBOOL yes = CK_TRUE;
            const std::string value = "value of " + label;
            static const char application[] = "token-road";
            CK_ATTRIBUTE data[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                                   {CKA_TOKEN, &yes, sizeof yes},
                                   {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                   {CKA_APPLICATION, const_cast<char*>(application), sizeof application - 1},
                                   {CKA_VALUE, const_cast<char*>(value.data()), value.size()}};
            CK_OBJECT_HANDLE object = 0;
            p11->C_CreateObject(session, data, 5, &object);
        });
        const std::vector<std::string> labels = WholeObjects();
        ASSERT_TRUE(labels.size() == 1 || labels.size() == 2) << "pulled after " << k << " commands";
        EXPECT_EQ(labels[0], "kept");
        if (labels.size() == 2) {
            EXPECT_EQ(labels[1], label);
            for (CK_OBJECT_HANDLE object : road::FindDataObjects(p11, session)) {
                if (Text(object, CKA_LABEL) == label) {
                    ASSERT_EQ(p11->C_DestroyObject(session, object), CKR_OK);
                }
            }
        }
    }
    EXPECT_EQ(WholeObjects(), std::vector<std::string>{"kept"});
}

// One attribute change of a token object whose value lives in a data file: the change itself
// rewrites the value, or changes the label after the value was read (so that the value is in
// memory when the object's files are written again). A certificate's subject may make its
// attribute file longer than one write command carries.
struct ValueRewrite {
    const char* name;
    CK_OBJECT_CLASS objectClass;
    CK_ATTRIBUTE_TYPE changed;  // CKA_VALUE or CKA_LABEL
    size_t subjectSize = 7;
};

void PrintTo(const ValueRewrite& rewrite, std::ostream* out) { *out << rewrite.name; }

class InterruptedValueRewriteRig : public InterruptedChangeRig,
                                   public ::testing::WithParamInterface<ValueRewrite> {
protected:
    struct State {
        std::string label;
        std::string value;
        bool operator==(const State& other) const { return label == other.label && value == other.value; }
        friend void PrintTo(const State& state, std::ostream* out)
        {
            *out << "label \"" << state.label << "\", value \"" << state.value << '"';
        }
    };

    // The object in its first state; its value is read once when the change is a label change.
    CK_OBJECT_HANDLE Make(const State& state)
    {
        CK_OBJECT_CLASS objectClass = GetParam().objectClass;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_CERTIFICATE_TYPE x509 = CKC_X_509;
        CK_KEY_TYPE des3 = CKK_DES3;
        const std::string subject = Subject();
        std::vector<CK_ATTRIBUTE> attributes = {
            {CKA_CLASS, &objectClass, sizeof objectClass},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_LABEL, const_cast<char*>(state.label.data()), state.label.size()},
            {CKA_VALUE, const_cast<char*>(state.value.data()), state.value.size()}};
        if (objectClass == CKO_CERTIFICATE) {
            attributes.push_back({CKA_CERTIFICATE_TYPE, &x509, sizeof x509});
            attributes.push_back({CKA_SUBJECT, const_cast<char*>(subject.data()), subject.size()});
        } else if (objectClass == CKO_SECRET_KEY) {
            attributes.push_back({CKA_KEY_TYPE, &des3, sizeof des3});
            attributes.push_back({CKA_SENSITIVE, &no, sizeof no});
            attributes.push_back({CKA_EXTRACTABLE, &yes, sizeof yes});
        }
        CK_OBJECT_HANDLE object = 0;
        EXPECT_EQ(p11->C_CreateObject(session, attributes.data(), attributes.size(), &object), CKR_OK);
        if (GetParam().changed != CKA_VALUE) {
            EXPECT_EQ(Read(object).value, state.value);
        }
        return object;
    }

    CK_RV Change(CK_OBJECT_HANDLE object, const State& to)
    {
        const std::string& text = GetParam().changed == CKA_VALUE ? to.value : to.label;
        CK_ATTRIBUTE change{GetParam().changed, const_cast<char*>(text.data()), text.size()};
        return p11->C_SetAttributeValue(session, object, &change, 1);
    }

    std::string Subject() const
    {
        std::string subject(GetParam().subjectSize, 's');
        for (size_t i = 0; i < subject.size(); ++i) subject[i] = static_cast<char>('a' + i % 26);
        return subject;
    }

    // Label and value; a certificate's subject must read back whole.
    State Read(CK_OBJECT_HANDLE object)
    {
        if (GetParam().objectClass == CKO_CERTIFICATE) {
            std::string subject(GetParam().subjectSize + 1, '\0');
            CK_ATTRIBUTE read{CKA_SUBJECT, &subject[0], subject.size()};
            EXPECT_EQ(p11->C_GetAttributeValue(session, object, &read, 1), CKR_OK);
            EXPECT_EQ(subject.substr(0, read.ulValueLen), Subject());
        }
        char label[64], value[64];
        CK_ATTRIBUTE read[] = {{CKA_LABEL, label, sizeof label}, {CKA_VALUE, value, sizeof value}};
        EXPECT_EQ(p11->C_GetAttributeValue(session, object, read, 2), CKR_OK);
        if (read[0].ulValueLen > sizeof label || read[1].ulValueLen > sizeof value) return State{"?", "?"};
        return State{std::string(label, read[0].ulValueLen), std::string(value, read[1].ulValueLen)};
    }

    // The token objects of the case's class.
    std::vector<CK_OBJECT_HANDLE> Found()
    {
        CK_OBJECT_CLASS objectClass = GetParam().objectClass;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE filter[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_TOKEN, &yes, sizeof yes}};
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG count = 0;
        EXPECT_EQ(p11->C_FindObjectsInit(session, filter, 2), CKR_OK);
        EXPECT_EQ(p11->C_FindObjects(session, found.data(), found.size(), &count), CKR_OK);
        EXPECT_EQ(p11->C_FindObjectsFinal(session), CKR_OK);
        found.resize(count);
        return found;
    }
};

TEST_P(InterruptedValueRewriteRig, CutAtEveryCommandKeepsTheOldOrTheNewValue)
{
    // Lengths differ, so that the value's file cannot simply be written over. The key value
    // keeps odd parity in every byte.
    const State before{"before", GetParam().objectClass == CKO_SECRET_KEY ? std::string(24, 'n') : "old value"};
    State after = before;
    if (GetParam().changed == CKA_VALUE) {
        after.value = "the new value, longer";
    } else {
        after.label = "after, relabelled";
    }
    Start();
    const CK_OBJECT_HANDLE trial = Make(before);
    const uint64_t commands = CommandsOf([&] { EXPECT_EQ(Change(trial, after), CKR_OK); });
    EXPECT_EQ(Read(trial), after);
    ASSERT_EQ(p11->C_DestroyObject(session, trial), CKR_OK);
    // A round may send a few commands more or fewer than the trial (whether it lists the token
    // first depends on what this process listed): the pull moves on one command a round until
    // the change runs whole before it.
    for (unsigned k = 0;; ++k) {
        ASSERT_LE(k, commands + 16) << "the change never ran whole";
        SCOPED_TRACE("pulled after " + std::to_string(k) + " commands");
        const CK_OBJECT_HANDLE object = Make(before);
        rig->Control().PullAfter(k);
        const CK_RV rv = Change(object, after);
        if (rig->Control().Request("status").find("inserted=1") != std::string::npos) {
            rig->Control().ClearFaults();
            EXPECT_EQ(rv, CKR_OK);
            EXPECT_EQ(Read(object), after);
            ASSERT_GT(k, 2u) << "the change was never cut";
            break;
        }
        rig->Control().ClearFaults();
        Stop();
        ASSERT_TRUE(rig->WaitCardPresent(0, false, std::chrono::seconds(15)));
        rig->InsertCard();
        Start();
        const std::vector<CK_OBJECT_HANDLE> found = Found();
        ASSERT_EQ(found.size(), 1u);
        const State read = Read(found[0]);
        EXPECT_TRUE(read == before || read == after) << ::testing::PrintToString(read);
        ASSERT_EQ(p11->C_DestroyObject(session, found[0]), CKR_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Objects, InterruptedValueRewriteRig,
                         ::testing::Values(ValueRewrite{"DataObjectValue", CKO_DATA, CKA_VALUE},
                                           ValueRewrite{"DataObjectLabelAfterValueRead", CKO_DATA, CKA_LABEL},
                                           ValueRewrite{"CertificateLabelAfterValueRead", CKO_CERTIFICATE, CKA_LABEL},
                                           ValueRewrite{"CertificateLabelOfLongAttributeFile", CKO_CERTIFICATE,
                                                        CKA_LABEL, 400},
                                           ValueRewrite{"Des3KeyLabelAfterValueRead", CKO_SECRET_KEY, CKA_LABEL}),
                         [](const ::testing::TestParamInfo<ValueRewrite>& info) { return info.param.name; });

}  // namespace
