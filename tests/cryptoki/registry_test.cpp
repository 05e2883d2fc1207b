// Handle registries and the session registry.
#include <gtest/gtest.h>

#include "ckbase/exception.h"
#include "cryptoki/object_holder.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/user.h"
#include "fake_objects.h"
#include "support/mutex.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { vdk::MutexLinuxFactory::RegisterFactory(); }
    void TearDown() override { vdk::MutexFactory::DestroyInstance(); }
};

TEST_F(RegistryTest, HandlesCountFromOneAndAreNeverReused) {
    zrck::ObjectHolderSynchronized<int> registry;
    EXPECT_EQ(1u, registry.Put(std::make_shared<int>(10)));
    EXPECT_EQ(2u, registry.Put(std::make_shared<int>(20)));
    EXPECT_TRUE(registry.Delete(1));
    EXPECT_FALSE(registry.Delete(1));
    EXPECT_EQ(3u, registry.Put(std::make_shared<int>(30)));
    EXPECT_EQ(nullptr, registry.GetIfExists(1));
    EXPECT_EQ(nullptr, registry.GetIfExists(0));
    EXPECT_EQ(20, *registry.GetIfExists(2));
    // The acceptor runs under the lock and may refuse the object.
    EXPECT_EQ(nullptr, registry.GetIfExists(2, [](int& value) { return value != 20; }));
}

TEST_F(RegistryTest, EnumerationRemovesWhatTheCallbackAsksForAndStopsWhenTold) {
    zrck::ObjectHolderSynchronized<int> registry;
    for (int i = 0; i < 4; ++i) registry.Put(std::make_shared<int>(i));
    int visited = 0;
    EXPECT_TRUE(registry.EnumerateToDelete([&](int&, bool& remove) {
        ++visited;
        remove = true;
        return false;
    }));
    EXPECT_EQ(1, visited);
    EXPECT_EQ(3u, registry.GetCount());
    EXPECT_FALSE(registry.EnumerateToDelete([](int&, bool&) { return true; }));
}

using zrtest::BareSession;

CK_RV SessionCode(zrck::User& user, CK_SESSION_HANDLE handle, bool rw) {
    try {
        user.GetSession(handle, rw);
    } catch (const zrck::Exception& e) {
        return e.GetCode();
    }
    return CKR_OK;
}

TEST_F(RegistryTest, SessionLookupChecksInOrder) {
    zrck::User user;
    auto* readOnly = new BareSession();
    auto* readWrite = new BareSession();
    readWrite->SetReadOnly(false);
    const CK_SESSION_HANDLE ro = user.RegisterSession(*readOnly);
    const CK_SESSION_HANDLE rw = user.RegisterSession(*readWrite);
    EXPECT_EQ(ro, readOnly->GetHandle());
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, SessionCode(user, 0, false));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, SessionCode(user, 99, false));
    EXPECT_EQ(CKR_OK, SessionCode(user, ro, false));
    EXPECT_EQ(CKR_SESSION_READ_ONLY, SessionCode(user, ro, true));
    EXPECT_EQ(CKR_OK, SessionCode(user, rw, true));
    readOnly->Close();
    EXPECT_EQ(CKR_SESSION_CLOSED, SessionCode(user, ro, true));
    EXPECT_EQ(2u, user.GetSessionCount());  // closed but still registered
    EXPECT_FALSE(user.UnregisterSession(42));
    EXPECT_TRUE(user.UnregisterSession(ro));
    EXPECT_TRUE(user.CloseAllSessions());
    EXPECT_FALSE(user.CloseAllSessions());
}

}  // namespace
