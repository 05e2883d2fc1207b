// The library object's root: initialisation counting, the locking models and the mutex
// factory over the application's callbacks, the slot-event wait and the default slot list.
#ifndef ZR_CRYPTOKI_LIBRARY_FRAME_H
#define ZR_CRYPTOKI_LIBRARY_FRAME_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ckbase/base_access.h"
#include "cryptoki/operation_list.h"
#include "ckbase/zr_pkcs11.h"
#include "support/noncopyable.h"

namespace zrck {

class SlotFactory;

enum LibMultithreadSupp {
    LIB_NO_LOCKING = 0,
    LIB_OWN_LOCKING = 1,
    LIB_APP_LOCKING = 2,
    LIB_OWN_LOCKING_CALLBACKS_GIVEN = 3,
};

class MultithreadSupIntf {
public:
    virtual ~MultithreadSupIntf() = default;
    virtual CK_RV DoCreateMutex(CK_VOID_PTR_PTR mutex) = 0;
    virtual CK_RV DoDestroyMutex(CK_VOID_PTR mutex) = 0;
    virtual CK_RV DoLockMutex(CK_VOID_PTR mutex) = 0;
    virtual CK_RV DoUnlockMutex(CK_VOID_PTR mutex) = 0;
};

class NoMultithreadSup : public MultithreadSupIntf, vdk::Noncopyable {
public:
    CK_RV DoCreateMutex(CK_VOID_PTR_PTR) override { return CKR_OK; }
    CK_RV DoDestroyMutex(CK_VOID_PTR) override { return CKR_OK; }
    CK_RV DoLockMutex(CK_VOID_PTR) override { return CKR_OK; }
    CK_RV DoUnlockMutex(CK_VOID_PTR) override { return CKR_OK; }
};

class OwnMultithreadSup : public MultithreadSupIntf, vdk::Noncopyable {
public:
    CK_RV DoCreateMutex(CK_VOID_PTR_PTR mutex) override;
    CK_RV DoDestroyMutex(CK_VOID_PTR mutex) override;
    CK_RV DoLockMutex(CK_VOID_PTR mutex) override;
    CK_RV DoUnlockMutex(CK_VOID_PTR mutex) override;
};

class AppMultithreadSup : public MultithreadSupIntf, vdk::Noncopyable {
public:
    explicit AppMultithreadSup(const CK_C_INITIALIZE_ARGS& args);
    CK_RV DoCreateMutex(CK_VOID_PTR_PTR mutex) override { return mCreateMutex(mutex); }
    CK_RV DoDestroyMutex(CK_VOID_PTR mutex) override { return mDestroyMutex(mutex); }
    CK_RV DoLockMutex(CK_VOID_PTR mutex) override { return mLockMutex(mutex); }
    CK_RV DoUnlockMutex(CK_VOID_PTR mutex) override { return mUnlockMutex(mutex); }

private:
    CK_CREATEMUTEX mCreateMutex;
    CK_DESTROYMUTEX mDestroyMutex;
    CK_LOCKMUTEX mLockMutex;
    CK_UNLOCKMUTEX mUnlockMutex;
};

// Mutex generator over the application's callbacks.
class MutexCryptokiFactory {
public:
    static AppMultithreadSup* mFunctions;
    static void SetupFactory(AppMultithreadSup* functions) { mFunctions = functions; }
    static void RegisterFactory();
    static vdk::MutexIntf* GenerateLocalMutex(const std::string& name, uint32_t flags);

    // The library re-takes its mutexes on one thread; application mutexes need not allow
    // that, so re-entry is counted here and only the outermost lock reaches the callbacks.
    class ExternalMutex : public vdk::MutexIntf, vdk::Noncopyable {
    public:
        ExternalMutex() = default;
        ~ExternalMutex() override;
        std::string ToString() const override { return ""; }
        CK_VOID_PTR* HandleAddress() { return &mHandle; }

    protected:
        void DoLock() override;
        void DoUnlock() override;

    private:
        CK_VOID_PTR mHandle = nullptr;
        std::atomic<std::thread::id> mOwner{};
        unsigned long mDepth = 0;
    };
};

// Keeps the last C_Finalize from tearing the library down under other threads' calls: every
// call passes through the gate, and the teardown closes it and waits until the calls inside
// have left. A call that finds it closed answers CKR_CRYPTOKI_NOT_INITIALIZED.
class CallGate : vdk::Noncopyable {
public:
    static CallGate& Instance();

    // False while closed; a true answer must be followed by Leave.
    bool Enter();
    void Leave();
    // Closes the gate and waits for the calls inside, except this thread's own.
    void CloseAndDrain();
    void Open();

    // The gate closed for one scope.
    class Closed : vdk::Noncopyable {
    public:
        Closed() { Instance().CloseAndDrain(); }
        ~Closed() { Instance().Open(); }
    };

private:
    void Exit();

    std::atomic<int> mInside{0};
    std::atomic<bool> mClosed{false};
    std::mutex mMutex;
    std::condition_variable mLeft;
};

// Whether the library's static objects are gone (destroyed at process exit or unload): a call
// made after that, from an application's exit handler, must not reach them.
class StaticsLifetime {
public:
    static bool Over();
    // Lets the static objects built up to the first C_Initialize outlive the mark.
    static void MarkAfterInitialize();
};

class LibraryFrame : vdk::Noncopyable {
public:
    using CreatorFunc = void (*)();

    static std::atomic<LibraryFrame*> globalLibraryPtr;
    static CreatorFunc LibraryCreatorFuncPtr;

    // The one library object, built through the creator hook when there is none; two
    // threads' first calls build one object.
    static LibraryFrame* GetInstance();
    // Deletes the library object when it is finalised (count 0).
    static void ReleaseInstanceIfFinalized(LibraryFrame* library);
    // C_Finalize once the static objects are gone: counts the call and releases nothing (the
    // ending process gives back memory, card connections and the PC/SC context).
    static CK_RV FinalizeWithoutStatics();

    LibraryFrame();
    virtual ~LibraryFrame();

    virtual CK_RV Initialize(CK_C_INITIALIZE_ARGS_PTR pInitArgs) = 0;
    virtual CK_RV Finalize(CK_VOID_PTR pReserved) = 0;
    virtual CK_RV GetInfo(CK_INFO_PTR pInfo) = 0;
    virtual CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount);
    virtual CK_RV WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved);

#define ZR_DECLARE_PURE(name, params, args) virtual CK_RV name params = 0;
    ZR_CK_SLOT_SESSION_OPERATIONS(ZR_DECLARE_PURE)
    ZR_CK_OBJECT_CRYPTO_OPERATIONS(ZR_DECLARE_PURE)
#undef ZR_DECLARE_PURE

    virtual CK_RV SetLibraryAttributes(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) = 0;
    virtual bool IsWaitForSlotEventAvailable() const = 0;
    virtual void SignalSlotCondition() {}
    virtual void LoadFeature(std::string) {}
    virtual void PostPrepareMutexes() = 0;
    virtual CK_RV PrepareMutexes(CK_C_INITIALIZE_ARGS_PTR pInitArgs) = 0;
    virtual CK_RV SetupMutexes(CK_C_INITIALIZE_ARGS_PTR pInitArgs);
    virtual CK_RV FreeMutexes();
    virtual void SignalFinalizeEvent() = 0;
    virtual bool NeedToCreateOwnThreads() = 0;
    virtual void SleepInWaitForSlotEvent();
    // A Boolean key of the configuration: 1 true, 0 false or absent, -1 no configuration.
    virtual int GetConfigFlag(const char* key) const;

    int GetInitCount() const { return mInitCount.load(); }
    // Initialised and holding its slot factory.
    virtual bool IsReady() const { return mInitCount.load() >= 1 && mpSlotFactory != nullptr; }
    SlotFactory* GetSlotFactory() const { return mpSlotFactory.get(); }
    LibMultithreadSupp GetLockingMode() const { return mMode; }
    const std::string& GetConfigText() const { return mConfigText; }

protected:
    // First step of Initialize; true means done with result set. A nested call that asks for
    // locking while the library runs without locks is refused and not counted.
    bool PreInitialize(CK_C_INITIALIZE_ARGS_PTR pInitArgs, CK_RV& result);
    // First step of Finalize; true means done with result set.
    bool PreFinalize(CK_RV& result);
    // Undoes the count of a first Initialize that failed after PreInitialize.
    void UndoInitialize();
    void SetupMultithreadSupIntf(LibMultithreadSupp mode, MultithreadSupIntf* support);

    // Serialises C_Initialize and C_Finalize: a nested call returns only once the first
    // initialisation is complete.
    vdk::RankedMutex mInitializeMutex{vdk::LockRank::kInitialization, "InitializeMutex"};
    std::atomic<int> mInitCount{0};
    LibMultithreadSupp mMode = LIB_NO_LOCKING;
    std::unique_ptr<MultithreadSupIntf> mpMultithreadSup;
    bool mSlotCountReported = false;
    std::unique_ptr<SlotFactory> mpSlotFactory;
    std::string mConfigText;
    MutexPtr mpMutexForLib;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_LIBRARY_FRAME_H
