// A token that keeps nothing and asks no device: every operation of the framework's token
// answers trivially, so that a class under test can be given an owner token. Logged in or not as
// the test says; random bytes from a counter.
#pragma once

#include "cryptoki/session_frame.h"
#include "cryptoki/token.h"
#include "support/mutex.h"

namespace zrtest {

// The framework's token needs a mutex factory before its constructor runs.
struct MutexFactoryReady {
    MutexFactoryReady() { vdk::MutexLinuxFactory::RegisterFactory(); }
};

class MemoryToken : private MutexFactoryReady, public zrck::Token {
public:
    MemoryToken() : zrck::Token(nullptr) {}

    bool logged = false;
    unsigned long randomDraws = 0;

    bool IsLogged() override { return logged; }
    void GenerateUserRandom(tru::Buffer& output) override
    {
        ++randomDraws;
        for (uint32_t i = 0; i < output.Size(); ++i) output.Data()[i] = static_cast<uint8_t>(randomDraws * 131 + i * 7);
    }

    void InitializeStorage() override {}
    void PostInit() override {}
    bool IsObjectsInitialized() override { return true; }
    bool IsBusy() const override { return false; }
    bool IsTokenPresent() override { return true; }
    void Update(bool) override {}
    void Refresh() override {}
    void SetDirty(zrck::TokObject*, zrck::AttributeTemplate*) override {}
    bool IsTokenInitialized() override { return true; }
    bool IsUserPinInitialized() override { return true; }
    CK_ULONG GetMinPasswordLen() const override { return 6; }
    CK_ULONG GetMaxPasswordLen() const override { return 80; }
    void InitializeSO(const tru::Buffer&, CK_UTF8CHAR_PTR) override {}
    void FillTokenInfo(CK_TOKEN_INFO_PTR) override {}
    CK_ULONG GetMechanismCount() override { return 0; }
    bool IsMechanismSupported(CK_MECHANISM_TYPE) override { return false; }
    void FillMechanismList(CK_MECHANISM_TYPE_PTR, CK_ULONG) override {}
    void FillMechanismInfo(CK_MECHANISM_TYPE, CK_MECHANISM_INFO_PTR) override {}
    CK_ULONG GetDeviceError() override { return 0; }
    void OpenSessionNotify(bool) override {}
    void CloseSessionNotify(bool) override {}
    CK_ULONG GetMaxSessionsCount() override { return 10; }
    CK_ULONG GetMaxRwSessionsCount() override { return 10; }
    void VerifyUserPassword(const tru::Buffer&) override {}
    void Login(CK_USER_TYPE, const tru::Buffer&) override {}
    void Logout() override {}
    void InitPin(const tru::Buffer&) override {}
    void ChangePin(const tru::Buffer&, const tru::Buffer&) override {}
    zrck::TokMechanism* GetMechanismIfSupported(CK_MECHANISM_TYPE) override { return nullptr; }
    void SeedUserRandom(const tru::Buffer&) override {}
    void SetUserPinInitialized(bool) override {}
    void DestroyAllObjects() override {}
};

// A session over the token given (none by default), which gives its random bytes; read-only
// until SetReadOnly(false).
class MemorySession : private MutexFactoryReady, public zrck::SessionFrame {
public:
    MemorySession() = default;
    explicit MemorySession(zrck::Token& token) : token_(&token) {}
    zrck::Token* GetOwnerToken() override { return token_; }
    zrck::TokenPtr LockToken() const override { return nullptr; }
    bool CouldSeePrivateObjects() const override { return true; }
    void Close() override {}
    void FillSessionInfo(CK_SESSION_INFO_PTR) override {}
    CK_STATE GetState() override { return 0; }
    void SeedRandom(const tru::Buffer&) override {}
    void GenerateRandom(tru::Buffer& output) override
    {
        if (token_ != nullptr) token_->GenerateUserRandom(output);
    }

private:
    zrck::Token* token_ = nullptr;
};

}  // namespace zrtest
