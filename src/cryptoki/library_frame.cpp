#include "cryptoki/library_frame.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "ckbase/exception.h"
#include "cryptoki/slot.h"

namespace zrck {

namespace {
// Guards creation and deletion of the library object only; calls never take it.
std::mutex& InstanceMutex() {
    static std::mutex mutex;
    return mutex;
}

int CountCallbacks(const CK_C_INITIALIZE_ARGS& args) {
    return (args.CreateMutex != nullptr) + (args.DestroyMutex != nullptr) + (args.LockMutex != nullptr) +
           (args.UnlockMutex != nullptr);
}

// Plain storage, never destroyed: read by calls made after the static objects are gone.
std::atomic<bool> staticsOver{false};

// Destroyed among the library's static objects; the first of them to go marks them all gone.
struct StaticsMark {
    ~StaticsMark() { staticsOver.store(true); }
};
const StaticsMark markAtLoad;

// The configuration decides how attributes read an empty CK_BBOOL.
bool EmptyBoolReadsFalse() { return LibraryFrame::GetInstance()->GetConfigFlag("MozillaNSSCompatibility") == 1; }
const bool emptyBoolRuleInstalled = (SetEmptyBoolRule(&EmptyBoolReadsFalse), true);
}  // namespace

std::atomic<LibraryFrame*> LibraryFrame::globalLibraryPtr{nullptr};
LibraryFrame::CreatorFunc LibraryFrame::LibraryCreatorFuncPtr = nullptr;
AppMultithreadSup* MutexCryptokiFactory::mFunctions = nullptr;

namespace {
// Calls of this thread inside the gate (a call made from an application callback nests).
thread_local int callsOfThisThread = 0;
}  // namespace

CallGate& CallGate::Instance() {
    static CallGate gate;
    return gate;
}

bool CallGate::Enter() {
    ++mInside;
    if (mClosed.load()) {
        Exit();
        return false;
    }
    ++callsOfThisThread;
    return true;
}

void CallGate::Leave() {
    --callsOfThisThread;
    Exit();
}

void CallGate::Exit() {
    --mInside;
    if (mClosed.load()) {
        std::lock_guard<std::mutex> lock(mMutex);
        mLeft.notify_all();
    }
}

void CallGate::CloseAndDrain() {
    mClosed.store(true);
    std::unique_lock<std::mutex> lock(mMutex);
    mLeft.wait(lock, [this] { return mInside.load() <= callsOfThisThread; });
}

void CallGate::Open() { mClosed.store(false); }

bool StaticsLifetime::Over() { return staticsOver.load(); }

void StaticsLifetime::MarkAfterInitialize() { static const StaticsMark markAfterInitialize; }

LibraryFrame* LibraryFrame::GetInstance() {
    LibraryFrame* library = globalLibraryPtr.load();
    if (library != nullptr) return library;
    std::lock_guard<std::mutex> lock(InstanceMutex());
    library = globalLibraryPtr.load();
    if (library == nullptr) {
        if (LibraryCreatorFuncPtr == nullptr) throw Exception(CKR_GENERAL_ERROR);
        LibraryCreatorFuncPtr();
        library = globalLibraryPtr.load();
        if (library == nullptr) throw Exception(CKR_GENERAL_ERROR);
    }
    return library;
}

void LibraryFrame::ReleaseInstanceIfFinalized(LibraryFrame* library) {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    if (library == nullptr || globalLibraryPtr.load() != library || library->GetInitCount() != 0) return;
    CallGate::Closed gate;
    globalLibraryPtr.store(nullptr);
    delete library;
}

CK_RV LibraryFrame::FinalizeWithoutStatics() {
    LibraryFrame* library = globalLibraryPtr.load();
    if (library == nullptr) return CKR_CRYPTOKI_NOT_INITIALIZED;
    std::lock_guard<vdk::RankedMutex> serial(library->mInitializeMutex);
    CK_RV rv = CKR_OK;
    library->PreFinalize(rv);
    return rv;
}

LibraryFrame::LibraryFrame() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

LibraryFrame::~LibraryFrame() {
    mpSlotFactory.reset();
    // Under application locking the library mutex calls back through the locking-model object.
    mpMutexForLib.reset();
    if (MutexCryptokiFactory::mFunctions == mpMultithreadSup.get()) MutexCryptokiFactory::mFunctions = nullptr;
    mpMultithreadSup.reset();
}

bool LibraryFrame::PreInitialize(CK_C_INITIALIZE_ARGS_PTR pInitArgs, CK_RV& result) {
    if (mInitCount.load() >= 1 && mMode == LIB_NO_LOCKING && pInitArgs != nullptr &&
        (pInitArgs->flags & CKF_OS_LOCKING_OK) == 0 && CountCallbacks(*pInitArgs) == 4) {
        // The running library locks with its own mutexes, never the application's callbacks.
        result = CKR_CRYPTOKI_ALREADY_INITIALIZED;
        return true;
    }
    if (++mInitCount < 2) return false;
    result = CKR_OK;
    return true;
}

bool LibraryFrame::PreFinalize(CK_RV& result) {
    const int count = --mInitCount;
    if (count < 0) mInitCount.store(0);
    if (count > 0) {
        result = CKR_OK;
        return true;
    }
    if (count == 0) return false;
    result = CKR_CRYPTOKI_NOT_INITIALIZED;
    return true;
}

void LibraryFrame::UndoInitialize() {
    if (--mInitCount < 0) mInitCount.store(0);
}

void LibraryFrame::SetupMultithreadSupIntf(LibMultithreadSupp mode, MultithreadSupIntf* support) {
    mMode = mode;
    mpMultithreadSup.reset(support);
    switch (mode) {
        case LIB_NO_LOCKING:
            // An application that promised to call from one thread at a time may still call
            // from several (stock test tools do, after C_Initialize(NULL)): the library keeps its
            // own locks anyway, so that such a caller gets answers instead of a crash.
            vdk::MutexLinuxFactory::RegisterFactory();
            break;
        case LIB_APP_LOCKING:
            MutexCryptokiFactory::SetupFactory(static_cast<AppMultithreadSup*>(support));
            MutexCryptokiFactory::RegisterFactory();
            break;
        default:
            vdk::MutexLinuxFactory::RegisterFactory();
            break;
    }
}

CK_RV LibraryFrame::SetupMutexes(CK_C_INITIALIZE_ARGS_PTR pInitArgs) {
    if (NeedToCreateOwnThreads() && (pInitArgs->flags & CKF_LIBRARY_CANT_CREATE_OS_THREADS) != 0) {
        return CKR_NEED_TO_CREATE_THREADS;
    }
    const int callbacks = CountCallbacks(*pInitArgs);
    if (callbacks != 0 && callbacks != 4) return CKR_ARGUMENTS_BAD;
    const bool osLocking = (pInitArgs->flags & CKF_OS_LOCKING_OK) != 0;
    if (callbacks == 0) {
        if (osLocking) {
            SetupMultithreadSupIntf(LIB_OWN_LOCKING, new OwnMultithreadSup());
        } else {
            SetupMultithreadSupIntf(LIB_NO_LOCKING, new NoMultithreadSup());
        }
    } else if (osLocking) {
        SetupMultithreadSupIntf(LIB_OWN_LOCKING_CALLBACKS_GIVEN, new OwnMultithreadSup());
    } else {
        SetupMultithreadSupIntf(LIB_APP_LOCKING, new AppMultithreadSup(*pInitArgs));
    }
    mpMutexForLib = CreateNamedMutex("mpMutexForLib");
    return CKR_OK;
}

CK_RV LibraryFrame::FreeMutexes() {
    mpMutexForLib.reset();
    if (MutexCryptokiFactory::mFunctions == mpMultithreadSup.get()) MutexCryptokiFactory::mFunctions = nullptr;
    mpMultithreadSup.reset();
    mMode = LIB_NO_LOCKING;
    vdk::MutexFactory::DestroyInstance();
    return CKR_OK;
}

void LibraryFrame::SleepInWaitForSlotEvent() { usleep(3000 * 1000); }

int LibraryFrame::GetConfigFlag(const char*) const { return -1; }

CK_RV LibraryFrame::GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    const CK_ULONG capacity = *pulCount;
    const CK_ULONG n = tokenPresent ? mpSlotFactory->GetSlotTokenPresentCount() : mpSlotFactory->GetSlotCount();
    if (pSlotList == nullptr) {
        *pulCount = n;
        return CKR_OK;
    }
    if (n > capacity) {
        *pulCount = n;
        return CKR_BUFFER_TOO_SMALL;
    }
    CK_ULONG count = 0;
    for (CK_SLOT_ID id : mpSlotFactory->GetSlotList()) {
        SlotPtr slot = mpSlotFactory->GetSlotByIDNoEx(id);
        if (!slot || (tokenPresent && !slot->IsTokenPresent())) continue;
        if (++count <= capacity) pSlotList[count - 1] = id;
    }
    *pulCount = count;
    return count > capacity ? CKR_BUFFER_TOO_SMALL : CKR_OK;
}

CK_RV LibraryFrame::WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR) {
    if (pSlot == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsWaitForSlotEventAvailable()) return CKR_FUNCTION_NOT_SUPPORTED;
    auto scan = [&](CK_RV& result) {
        SlotFactory* factory = mpSlotFactory.get();
        if (factory->GetSlotCount() == 0) factory->RefreshSlots();
        for (CK_SLOT_ID id : factory->GetSlotList()) {
            if (mInitCount.load() < 1) {
                result = CKR_CRYPTOKI_NOT_INITIALIZED;
                return true;
            }
            SlotPtr slot = factory->FindSlotByID(id);
            if (slot && slot->IsSlotEventSet()) {
                *pSlot = slot->GetSlotID();
                slot->ClearSlotEvent();
                result = CKR_OK;
                return true;
            }
        }
        return false;
    };
    CK_RV result = CKR_OK;
    if (scan(result)) return result;
    if ((flags & CKF_DONT_BLOCK) != 0) return CKR_NO_EVENT;
    for (;;) {
        if (mInitCount.load() < 1) return CKR_CRYPTOKI_NOT_INITIALIZED;
        SleepInWaitForSlotEvent();
        if (mInitCount.load() < 1) return CKR_CRYPTOKI_NOT_INITIALIZED;
        if (scan(result)) return result;
    }
}

CK_RV OwnMultithreadSup::DoCreateMutex(CK_VOID_PTR_PTR mutex) {
    *mutex = CreateNamedMutex("DoCreateMutex").release();
    return CKR_OK;
}

CK_RV OwnMultithreadSup::DoDestroyMutex(CK_VOID_PTR mutex) {
    delete static_cast<vdk::MutexIntf*>(mutex);
    return CKR_OK;
}

CK_RV OwnMultithreadSup::DoLockMutex(CK_VOID_PTR mutex) {
    static_cast<vdk::MutexIntf*>(mutex)->Lock();
    return CKR_OK;
}

CK_RV OwnMultithreadSup::DoUnlockMutex(CK_VOID_PTR mutex) {
    static_cast<vdk::MutexIntf*>(mutex)->Unlock();
    return CKR_OK;
}

AppMultithreadSup::AppMultithreadSup(const CK_C_INITIALIZE_ARGS& args)
    : mCreateMutex(args.CreateMutex),
      mDestroyMutex(args.DestroyMutex),
      mLockMutex(args.LockMutex),
      mUnlockMutex(args.UnlockMutex) {}

void MutexCryptokiFactory::RegisterFactory() { vdk::MutexFactory::Instance().SetGenerator(&GenerateLocalMutex); }

vdk::MutexIntf* MutexCryptokiFactory::GenerateLocalMutex(const std::string&, uint32_t) {
    if (mFunctions == nullptr) throw Exception(CKR_GENERAL_ERROR);
    std::unique_ptr<ExternalMutex> mutex(new ExternalMutex());
    const CK_RV rv = mFunctions->DoCreateMutex(mutex->HandleAddress());
    if (rv != CKR_OK) {
        *mutex->HandleAddress() = nullptr;
        throw Exception(rv);
    }
    return mutex.release();
}

MutexCryptokiFactory::ExternalMutex::~ExternalMutex() {
    if (mHandle != nullptr && mFunctions != nullptr) mFunctions->DoDestroyMutex(mHandle);
}

void MutexCryptokiFactory::ExternalMutex::DoLock() {
    const std::thread::id self = std::this_thread::get_id();
    if (mOwner.load() == self) {
        ++mDepth;
        return;
    }
    const CK_RV rv = mFunctions->DoLockMutex(mHandle);
    if (rv != CKR_OK) throw Exception(rv);
    mOwner.store(self);
    mDepth = 1;
}

void MutexCryptokiFactory::ExternalMutex::DoUnlock() {
    if (mOwner.load() != std::this_thread::get_id()) throw Exception(CKR_MUTEX_NOT_LOCKED);
    if (--mDepth > 0) return;
    mOwner.store(std::thread::id());
    const CK_RV rv = mFunctions->DoUnlockMutex(mHandle);
    if (rv != CKR_OK) throw Exception(rv);
}

}  // namespace zrck
