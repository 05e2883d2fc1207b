// A slot's object registry with deferred deletion, the token's class factory and the
// session's operation records and mechanism cache, on the in-memory doubles.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "ckbase/exception.h"
#include "cryptoki/user.h"
#include "fake_framework.h"
#include "fake_objects.h"

namespace {

using zrtest::FakeDataObject;
using zrtest::ToyMechanism;

CK_RV CodeOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

// An initialised fake library with one slot holding a token.
class SlotObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        zrtest::FakeLibrary::NextConfig() = ZrFakeConfig{1, 1, 100, 100, CK_FALSE, CK_TRUE};
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &zrtest::FakeLibrary::Create;
        library = static_cast<zrtest::FakeLibrary*>(zrck::LibraryFrame::GetInstance());
        CK_C_INITIALIZE_ARGS args = {nullptr, nullptr, nullptr, nullptr, CKF_OS_LOCKING_OK, nullptr};
        ASSERT_EQ(CKR_OK, library->Initialize(&args));
        slot = library->GetFakeFactory()->GetFakeSlot(0);
        ASSERT_EQ(CKR_OK, library->GetFakeFactory()->CheckAndInitToken(*slot));
        token = std::static_pointer_cast<zrtest::FakeToken>(slot->GetToken());
    }
    void TearDown() override {
        token.reset();
        slot.reset();
        library->Finalize(nullptr);
        zrck::LibraryFrame::ReleaseInstanceIfFinalized(library);
        zrck::LibraryFrame::LibraryCreatorFuncPtr = nullptr;
    }
    CK_OBJECT_HANDLE AddData() { return slot->AddObject(std::make_shared<FakeDataObject>()); }

    zrtest::FakeLibrary* library = nullptr;
    std::shared_ptr<zrtest::FakeSlot> slot;
    std::shared_ptr<zrtest::FakeToken> token;
};

TEST_F(SlotObjectsTest, DeletionOfAnObjectOnlyTheCallerHoldsIsImmediate) {
    const CK_OBJECT_HANDLE handle = AddData();
    zrck::TokObjectPtr held = slot->GetBlockObjectIfExists(handle);
    ASSERT_TRUE(held);
    const CK_ULONG updates = token->GetUpdateCount();
    slot->DeleteTokenObject(handle, 1, "caller only");
    EXPECT_FALSE(slot->GetBlockObjectIfExists(handle));
    EXPECT_EQ(updates + 1, token->GetUpdateCount());
    EXPECT_EQ(0u, slot->GetPendingRemoveCount());
}

TEST_F(SlotObjectsTest, DeletionOfAnObjectInUseCompletesWhenTheLastUserLetsGo) {
    const CK_OBJECT_HANDLE handle = AddData();
    const CK_ULONG objects = slot->GetObjectCount();
    zrck::TokObjectPtr other = slot->GetBlockObjectIfExists(handle);  // another session's use
    zrck::TokObjectPtr mine = slot->GetBlockObjectIfExists(handle);
    slot->DeleteTokenObject(handle, 1, "in use");
    slot->ReleaseObject(mine);
    EXPECT_EQ(1u, slot->GetPendingRemoveCount());
    EXPECT_EQ(objects, slot->GetObjectCount());       // still registered ...
    EXPECT_FALSE(slot->GetBlockObjectIfExists(handle));  // ... but no lookup finds it
    slot->CheckPendingRemoves();
    EXPECT_EQ(objects, slot->GetObjectCount());
    const CK_ULONG updates = token->GetUpdateCount();
    slot->ReleaseObject(other);
    EXPECT_EQ(objects - 1, slot->GetObjectCount());
    EXPECT_EQ(0u, slot->GetPendingRemoveCount());
    EXPECT_EQ(updates + 1, token->GetUpdateCount());
    EXPECT_EQ(0u, other->GetLockLevel());
}

TEST_F(SlotObjectsTest, EnumerationAndDroppingPrivateObjects) {
    const CK_ULONG mechanisms = slot->GetObjectCount();
    auto privateObject = std::make_shared<FakeDataObject>();
    privateObject->SetVisibility(zrck::TokObject::VISIBILITY_PRIVATE);
    slot->AddObject(privateObject);
    AddData();
    int visited = 0;
    EXPECT_FALSE(slot->EnumerateObjects([&](zrck::TokObject&, zrck::Slot::ObjEnumerationData*) { return ++visited < 2; },
                                        nullptr));
    EXPECT_EQ(2, visited);
    slot->DeleteAllSlotPrivateMemoryObjects();
    EXPECT_EQ(mechanisms + 1, slot->GetObjectCount());  // mechanisms and the public object stay
    EXPECT_FALSE(slot->GetBlockObjectIfExists(privateObject->GetHandle()));
}

TEST_F(SlotObjectsTest, ClassFactoryChoosesByKeyThenInRegistrationOrder) {
    zrck::TokObjectClassFactory& factory = *token->GetClassFactory();
    int refusingCalls = 0;
    factory.RegisterClass(CKO_DATA, 0, [&](const zrck::AttributeTemplate&) { return ++refusingCalls, false; },
                          [] { return new ToyMechanism(1, 0, 0, 0); });
    factory.RegisterClass(CKO_DATA, 0, &FakeDataObject::ClassCouldBeCreated, [] { return new FakeDataObject(); });
    CK_OBJECT_CLASS data = CKO_DATA;
    CK_ULONG badKeyType = 0;
    CK_ATTRIBUTE withClass[] = {{CKA_CLASS, &data, sizeof data}};
    CK_ATTRIBUTE withBadKeyType[] = {{CKA_CLASS, &data, sizeof data}, {CKA_KEY_TYPE, &badKeyType, 2}};
    CK_ATTRIBUTE keyTypeOnly[] = {{CKA_KEY_TYPE, &badKeyType, 2}};
    std::unique_ptr<zrck::TokObject> made(factory.Generate(zrck::AttributeTemplate(withClass, 1)));
    ASSERT_TRUE(made);
    EXPECT_STREQ("FakeDataObject", made->GetObjectClassName());  // the second registration, by the walk
    EXPECT_EQ(2, refusingCalls);
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID,
              CodeOf([&] { factory.Generate(zrck::AttributeTemplate(withBadKeyType, 2)); }));
    EXPECT_EQ(nullptr, factory.Generate(zrck::AttributeTemplate(keyTypeOnly, 1)));
}

TEST_F(SlotObjectsTest, SaveableStateAndMarksAreRefusedByTheTokenBase) {
    tru::BufferDynamic out;
    EXPECT_EQ(CKR_STATE_UNSAVEABLE, CodeOf([&] { token->EnvelopeSessionState(tru::Buffer(), out); }));
    EXPECT_EQ(CKR_FUNCTION_REJECTED, CodeOf([&] { token->CalculateMark(tru::Buffer(), out); }));
}

// Session engine: operation records and the mechanism cache.
class SessionEngineTest : public SlotObjectsTest {
protected:
    void SetUp() override {
        SlotObjectsTest::SetUp();
        session.reset(slot->CreateUnregisteredSession());
        for (CK_MECHANISM_TYPE type = 101; type <= 106; ++type) {
            mechanisms.push_back(std::make_unique<ToyMechanism>(type, 0, 0, 0));
        }
    }
    void TearDown() override {
        session.reset();
        SlotObjectsTest::TearDown();
    }
    zrck::TokMechanism* Cached(int index) {
        zrck::TokMechanism* clone = mechanisms[index]->Clone();
        session->GetMechCache().Put(clone);
        return clone;
    }

    std::unique_ptr<zrck::SessionFrame> session;
    std::vector<std::unique_ptr<ToyMechanism>> mechanisms;
};

TEST_F(SessionEngineTest, FindingTheActiveOperation) {
    zrck::TokMechanism* sign = Cached(0);
    session->SetCurrentOperation(zrck::CRYPTO_STATE_SIGN, nullptr, sign);
    using Frame = zrck::SessionFrame;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED,
              CodeOf([&] { session->GetCurrentMechanism(zrck::CRYPTO_STATE_ENCRYPT, Frame::MODE_SINGLE_PART, false); }));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, CodeOf([&] { session->SetCurrentOperation(zrck::CRYPTO_STATE_DIGEST, nullptr, sign); }));
    EXPECT_EQ(CKR_DATA_LEN_RANGE,
              CodeOf([&] { session->GetCurrentMechanism(zrck::CRYPTO_STATE_SIGN, Frame::MODE_MULTI_PART, true); }));
    EXPECT_EQ(sign, session->GetCurrentMechanism(zrck::CRYPTO_STATE_SIGN, Frame::MODE_MULTI_PART, false));
    EXPECT_EQ(CKR_OPERATION_ACTIVE,
              CodeOf([&] { session->GetCurrentMechanism(zrck::CRYPTO_STATE_SIGN, Frame::MODE_SINGLE_PART, false); }));
    {
        // An exception inside a guarded call ends the operation and releases the mechanism.
        Frame::OperationGuard guard(*session, zrck::CRYPTO_STATE_SIGN);
    }
    EXPECT_FALSE(session->GetPrimaryOperation().InUse());
    EXPECT_EQ(1, static_cast<ToyMechanism*>(sign)->FreedCount());
}

TEST_F(SessionEngineTest, CacheEvictsTheLastEntryNoOperationUses) {
    zrck::TokMechanism* first = Cached(0);
    for (int i = 1; i < 4; ++i) Cached(i);
    zrck::TokMechanism* fifth = Cached(4);
    session->SetCurrentOperation(zrck::CRYPTO_STATE_SIGN, nullptr, fifth);
    Cached(5);  // sixth type: the fifth entry is in use, so the fourth goes
    auto& cache = session->GetMechCache();
    EXPECT_EQ(5u, cache.GetCount());
    EXPECT_EQ(first, cache.Find(101));
    EXPECT_EQ(fifth, cache.Find(105));
    EXPECT_EQ(nullptr, cache.Find(104));
    EXPECT_NE(nullptr, cache.Find(106));
    session->LogoutSignaled();
    EXPECT_EQ(0u, cache.GetCount());
    EXPECT_FALSE(session->GetPrimaryOperation().InUse());
}

// A logout signalled while another thread runs a call of the session does not wait for that
// call; the operations end before the session's next call.
TEST_F(SessionEngineTest, LogoutDuringARunningCallTakesEffectAfterIt) {
    session->SetCurrentOperation(zrck::CRYPTO_STATE_SIGN, nullptr, Cached(0));
    std::mutex step;
    std::unique_lock<std::mutex> hold(step);
    std::thread call([&] {
        std::lock_guard<zrck::SessionFrame::CallMutex> running(session->GetCallMutex());
        std::lock_guard<std::mutex> wait(step);
    });
    while (session->GetCallMutex().try_lock()) {
        session->GetCallMutex().unlock();
        std::this_thread::yield();
    }
    session->LogoutSignaled();
    EXPECT_TRUE(session->GetPrimaryOperation().InUse());
    hold.unlock();
    call.join();
    std::lock_guard<zrck::SessionFrame::CallMutex> next(session->GetCallMutex());
    session->ApplyPendingLogout();
    EXPECT_FALSE(session->GetPrimaryOperation().InUse());
}

TEST_F(SessionEngineTest, MechanismsAreClonedFromTheTokenOnce) {
    zrck::TokMechanism* found = session->FindMechanism(token.get(), CKM_SHA256);
    EXPECT_NE(token->GetMechanismIfSupported(CKM_SHA256), found);
    EXPECT_EQ(CKM_SHA256, found->GetMechanismType());
    EXPECT_EQ(found, session->FindMechanism(token.get(), CKM_SHA256));
    EXPECT_EQ(CKR_MECHANISM_INVALID, CodeOf([&] { session->FindMechanism(token.get(), CKM_RSA_PKCS); }));
}

struct AtrCase {
    std::vector<unsigned char> atr, pattern, mask;
    unsigned long length;
    bool expected;
    const char* name;
};

class AtrTest : public ::testing::TestWithParam<AtrCase> {};

TEST_P(AtrTest, Matches) {
    const AtrCase& c = GetParam();
    EXPECT_EQ(c.expected, zrck::Slot::IsATRAcceptable(tru::Buffer(c.atr.data(), c.atr.size()), c.pattern.data(),
                                                      c.mask.data(), c.length));
}

INSTANTIATE_TEST_SUITE_P(
    Slot, AtrTest,
    ::testing::Values(AtrCase{{1, 2, 3, 4}, {1, 2, 3}, {0xFF, 0xFF, 0xFF}, 3, false, "LengthDiffers"},
                      AtrCase{{1, 0x5A, 3}, {1, 0, 3}, {0xFF, 0x00, 0xFF}, 3, true, "MaskedByteMatchesAnything"},
                      AtrCase{{1, 0x5A, 3}, {1, 0x5B, 3}, {0xFF, 0xFF, 0xFF}, 3, false, "ByteDiffers"},
                      AtrCase{{}, {0}, {0}, 0, true, "EmptyAtrOfLengthZero"}),
    [](const ::testing::TestParamInfo<AtrCase>& info) { return std::string(info.param.name); });

}  // namespace
