// A session frame for driving host mechanisms directly: they take the session by reference but
// ask nothing of it.
#pragma once

#include "cryptoki/session_frame.h"
#include "support/mutex.h"

namespace swtest {

// The framework's session needs a mutex factory before its constructor runs.
struct MutexFactoryReady {
    MutexFactoryReady() { vdk::MutexLinuxFactory::RegisterFactory(); }
};

class NullSession : private MutexFactoryReady, public zrck::SessionFrame {
public:
    zrck::Token* GetOwnerToken() override { return nullptr; }
    zrck::TokenPtr LockToken() const override { return nullptr; }
    bool CouldSeePrivateObjects() const override { return true; }
    void Close() override {}
    void FillSessionInfo(CK_SESSION_INFO_PTR) override {}
    CK_STATE GetState() override { return 0; }
    void SeedRandom(const tru::Buffer&) override {}
    void GenerateRandom(tru::Buffer&) override {}
};

}  // namespace swtest
