// The concrete Cryptoki dispatcher: each body checks its arguments and the initialisation,
// resolves slot or session (held by shared ownership for the whole call), tests the token's
// presence and calls the slot, the token or the session.
#ifndef ZR_CRYPTOKI_LIBRARY_H
#define ZR_CRYPTOKI_LIBRARY_H

#include <functional>
#include <memory>

#include "cryptoki/framework_types.h"
#include "cryptoki/library_frame.h"

namespace zrck {

class Library : public LibraryFrame {
public:
    using ExternalRandomCallback = CK_RV (*)(CK_BYTE_PTR, CK_ULONG);

    Library() = default;
    ~Library() override;

    CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) override;
#define ZR_DECLARE_OVERRIDE(name, params, args) CK_RV name params override;
    ZR_CK_SLOT_SESSION_OPERATIONS(ZR_DECLARE_OVERRIDE)
    ZR_CK_OBJECT_CRYPTO_OPERATIONS(ZR_DECLARE_OVERRIDE)
#undef ZR_DECLARE_OVERRIDE
    CK_RV SetLibraryAttributes(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) override;
    void PostPrepareMutexes() override {}
    void SignalFinalizeEvent() override {}
    CK_RV FreeMutexes() override { return LibraryFrame::FreeMutexes(); }
    bool IsReady() const override { return LibraryFrame::IsReady() && mpUser != nullptr; }

    virtual int GetExternalRandom(tru::Buffer& output) = 0;
    virtual void UpdateTokens();
    void RefreshToken(Slot& slot);

    // The session registry; CKR_CRYPTOKI_NOT_INITIALIZED when there is none.
    User* GetUser() const;
    User* GetUserIfExists() const { return mpUser.get(); }
    // The slot of the session's token; CKR_DEVICE_REMOVED when the token or its slot is gone.
    SlotPtr GetSlot(SessionFrame& session) const;
    // The present token of the session's slot; CKR_DEVICE_REMOVED when it is not the session's one.
    TokenPtr SessionToken(SessionFrame& session, Slot& slot) const;
    ExternalRandomCallback GetExternalRandomCallback() const { return mExternalRandom; }
    // Runs the part of an object or key operation that writes to the token. A driver takes
    // its device lock here; the framework's default just runs it. The name labels the lock.
    virtual void RunStorageOperation(Token& token, const char* name, const std::function<void()>& body);

protected:
    // The initialisation every library object runs: count, configuration text, locking model
    // (recursive mutexes), then build() makes the slot factory; a failed first call is undone.
    CK_RV InitializeLibrary(CK_C_INITIALIZE_ARGS_PTR pInitArgs, const std::function<void()>& build);
    // Counterpart of InitializeLibrary; release() drops what build() made besides the factory.
    CK_RV FinalizeLibrary(const std::function<void()>& release);
    // The locking-model step of Initialize: recursive mutexes, then SetupMutexes.
    CK_RV PrepareRecursiveMutexes(CK_C_INITIALIZE_ARGS_PTR pInitArgs);
    void SetSlotFactory(std::unique_ptr<SlotFactory> factory);
    void SetExternalRandomCallback(ExternalRandomCallback callback) { mExternalRandom = callback; }

private:
    SlotPtr SlotByID(CK_SLOT_ID slotID) const;
    void ReleaseAll();

    std::unique_ptr<User> mpUser;
    ExternalRandomCallback mExternalRandom = nullptr;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_LIBRARY_H
