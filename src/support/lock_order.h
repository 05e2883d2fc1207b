// The one lock order of the whole library, and its check.
//
// Outermost first. A thread that holds a lock may block on a lock of a later rank only: never on
// one of its own rank (another session's call lock, another slot) or an earlier one. Taking a
// lock it already holds again is allowed (the library's mutexes are recursive), and so is a
// try-lock, which never waits.
//
//   1 initialisation      C_Initialize / C_Finalize ("InitializeMutex")
//   2 session call        one session's calls ("SessionCall"); a thread holds at most one
//   3 slot table          the reader slots ("MutexForInit")
//   4 slot                one slot's token set-up and retirement ("MutexForSlot")
//   5 token operation     login state, PINs, token information ("mpOperationMutex")
//   6 storage             one token's device access and its files ("StorageMutex"); the PC/SC
//                         transaction is begun and ended inside it
//   7 deferred deletions  a slot's queued object deletions ("mpMutexForPendings")
//   8 registries          the session and object registries ("ObjectHolderSynchronized"),
//                         a session's own objects ("mpMutexForSessionObjects")
//   9 leaves              ID generator, logs, a token's mechanism table ("MechanismTable"),
//                         a slot's storage-ID index and reader name, the removal log, the
//                         lost-session list, the key-extension cache: nothing is taken under
//                         them
//
// So a call that holds a lower lock never asks the token's random generator (token operation)
// from inside a storage guard, and the close of a retired token's sessions never waits for the
// call lock of a session another thread is in.
//
// With ZR_LOCK_ORDER_CHECK defined (the test builds), every ranked lock taken out of this
// order aborts the process, naming both locks.
#ifndef SUPPORT_LOCK_ORDER_H
#define SUPPORT_LOCK_ORDER_H

#include <mutex>
#include <string>

namespace vdk {

enum class LockRank : int {
    kUnranked = 0,  // not checked: a mutex of the application's, or one this table does not name
    kInitialization = 1,
    kSessionCall = 2,
    kSlotTable = 3,
    kSlot = 4,
    kTokenOperation = 5,
    kStorage = 6,
    kDeferredDeletions = 7,
    kRegistry = 8,
    kLeaf = 9,
};

// The rank of a library mutex made under this name (see the table above).
LockRank LockRankOf(const std::string& name);

class LockOrder {
public:
#ifdef ZR_LOCK_ORDER_CHECK
    static constexpr bool kChecked = true;
    // Before a blocking lock: aborts when the thread holds a lock the order puts at or after it.
    static void BeforeLock(const void* mutex, LockRank rank, const char* name);
    static void Locked(const void* mutex, LockRank rank, const char* name);
    static void Unlocked(const void* mutex);
    // Locks this thread holds now (each nested take counted).
    static int HeldCount();
    // For tests only: a thread that plays another thread's call by holding its lock itself.
    class Suspended {
    public:
        Suspended();
        ~Suspended();
        Suspended(const Suspended&) = delete;
        Suspended& operator=(const Suspended&) = delete;
    };
#else
    static constexpr bool kChecked = false;
    static void BeforeLock(const void*, LockRank, const char*) {}
    static void Locked(const void*, LockRank, const char*) {}
    static void Unlocked(const void*) {}
    static int HeldCount() { return 0; }
    class Suspended {};
#endif
};

// A mutex with a rank, usable with std::lock_guard and std::unique_lock.
template <class Mutex>
class Ranked {
public:
    Ranked(LockRank rank, const char* name) : rank_(rank), name_(name) {}
    Ranked(const Ranked&) = delete;
    Ranked& operator=(const Ranked&) = delete;

    void lock()
    {
        LockOrder::BeforeLock(this, rank_, name_);
        mutex_.lock();
        LockOrder::Locked(this, rank_, name_);
    }
    bool try_lock()
    {
        if (!mutex_.try_lock()) return false;
        LockOrder::Locked(this, rank_, name_);
        return true;
    }
    void unlock()
    {
        LockOrder::Unlocked(this);
        mutex_.unlock();
    }

private:
    Mutex mutex_;
    const LockRank rank_;
    const char* const name_;
};

using RankedRecursiveMutex = Ranked<std::recursive_mutex>;
using RankedMutex = Ranked<std::mutex>;

}  // namespace vdk

#endif
