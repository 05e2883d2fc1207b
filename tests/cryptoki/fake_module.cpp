// The fake-token module: the real entry layer and framework over the in-memory doubles.
#include "fake_framework.h"
#include "fake_module_control.h"
#include "support/mutex.h"

using zrtest::FakeLibrary;

namespace {

// Installs the creator hook when the module is loaded, as the token driver does.
struct HookInstaller {
    HookInstaller() {
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &FakeLibrary::Create;
        zrtest::FakeToken::TokenExtension().store(&zrtest::InstallToys);
    }
} installer;

std::shared_ptr<zrtest::FakeSlot> SlotOf(CK_SLOT_ID slot) {
    auto* library = dynamic_cast<FakeLibrary*>(zrck::LibraryFrame::globalLibraryPtr.load());
    if (library == nullptr || library->GetFakeFactory() == nullptr) return nullptr;
    return library->GetFakeFactory()->GetFakeSlot(slot);
}

}  // namespace

#define ZR_CONTROL extern "C" __attribute__((visibility("default")))

ZR_CONTROL void ZrFake_Configure(const ZrFakeConfig* config) { FakeLibrary::NextConfig() = *config; }

ZR_CONTROL void ZrFake_DefaultConfig(ZrFakeConfig* config) { *config = ZrFakeConfig{2, 1, 100, 100, CK_FALSE, CK_TRUE}; }

ZR_CONTROL void ZrFake_RemoveToken(CK_SLOT_ID slot) {
    if (auto fake = SlotOf(slot)) fake->Remove();
}

ZR_CONTROL void ZrFake_InsertToken(CK_SLOT_ID slot) {
    if (auto fake = SlotOf(slot)) fake->Insert();
}

ZR_CONTROL void ZrFake_SetCreatorHook(CK_BBOOL installed) {
    zrck::LibraryFrame::LibraryCreatorFuncPtr = installed ? &FakeLibrary::Create : nullptr;
}

ZR_CONTROL CK_BBOOL ZrFake_LibraryExists(void) {
    return zrck::LibraryFrame::globalLibraryPtr.load() != nullptr ? CK_TRUE : CK_FALSE;
}

ZR_CONTROL CK_ULONG ZrFake_LockingMode(void) {
    zrck::LibraryFrame* library = zrck::LibraryFrame::globalLibraryPtr.load();
    return library != nullptr ? library->GetLockingMode() : 0;
}

ZR_CONTROL CK_BBOOL ZrFake_MutexesExclude(void) {
    return vdk::MutexFactory::Instance().GetGenerator() != &vdk::MutexNullFactory::GenerateLocalMutex ? CK_TRUE : CK_FALSE;
}

ZR_CONTROL void ZrFake_SetGetInfoThrow(int kind) { FakeLibrary::GetInfoThrow().store(kind); }

ZR_CONTROL CK_ULONG ZrFake_TokenUpdates(CK_SLOT_ID slot) {
    auto fake = SlotOf(slot);
    if (!fake) return 0;
    auto token = std::dynamic_pointer_cast<zrtest::FakeToken>(fake->GetToken());
    return token ? token->GetUpdateCount() : 0;
}

ZR_CONTROL CK_ULONG ZrFake_SlotRefreshes(void) {
    auto* library = dynamic_cast<FakeLibrary*>(zrck::LibraryFrame::globalLibraryPtr.load());
    return library != nullptr && library->GetFakeFactory() != nullptr ? library->GetFakeFactory()->GetRefreshCount() : 0;
}

ZR_CONTROL void ZrFake_SetStateSaveable(CK_BBOOL saveable) { zrtest::ToyStateSaveable().store(saveable != CK_FALSE); }

// How often the slot registered an object (once when it gets its handle, once more at commit
// for a token object).
ZR_CONTROL CK_ULONG ZrFake_ObjectRegistrations(CK_SLOT_ID slot) {
    auto fake = SlotOf(slot);
    return fake ? fake->GetRegistrationCount() : 0;
}

ZR_CONTROL void ZrFake_HoldSlowDigests(CK_BBOOL hold) { zrtest::ToyHoldSlowDigests(hold != CK_FALSE); }
ZR_CONTROL CK_ULONG ZrFake_SlowDigests(void) { return zrtest::ToySlowDigests().load(); }
ZR_CONTROL CK_ULONG ZrFake_StorageWhileInUse(void) { return zrtest::ToyStorageWhileInUse().load(); }
