#include "support/lock_order.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace vdk {

LockRank LockRankOf(const std::string& name)
{
    static const std::map<std::string, LockRank> kRanks = {
        {"InitializeMutex", LockRank::kInitialization},
        {"SessionCall", LockRank::kSessionCall},
        {"MutexForInit", LockRank::kSlotTable},
        {"MutexForSlot", LockRank::kSlot},
        {"mpOperationMutex", LockRank::kTokenOperation},
        {"StorageMutex", LockRank::kStorage},
        {"mpMutexForPendings", LockRank::kDeferredDeletions},
        {"ObjectHolderSynchronized", LockRank::kRegistry},
        {"mpMutexForSessionObjects", LockRank::kRegistry},
        {"IDGenerator", LockRank::kLeaf},
    };
    auto found = kRanks.find(name);
    return found != kRanks.end() ? found->second : LockRank::kUnranked;
}

#ifdef ZR_LOCK_ORDER_CHECK

namespace {

struct Held {
    const void* mutex;
    LockRank rank;
    const char* name;
    int depth;
};

// Distinct locks one thread may hold at once; the library holds far fewer.
constexpr int kMaxHeld = 32;

struct HeldLocks {
    Held entries[kMaxHeld];
    int count = 0;
};

thread_local HeldLocks tHeld;
thread_local int tSuspended = 0;

Held* Find(HeldLocks& held, const void* mutex)
{
    for (int i = 0; i < held.count; ++i) {
        if (held.entries[i].mutex == mutex) return &held.entries[i];
    }
    return nullptr;
}

}  // namespace

void LockOrder::BeforeLock(const void* mutex, LockRank rank, const char* name)
{
    if (rank == LockRank::kUnranked || tSuspended > 0) return;
    HeldLocks& held = tHeld;
    if (Find(held, mutex) != nullptr) return;  // taken again: no wait
    for (int i = 0; i < held.count; ++i) {
        const Held& entry = held.entries[i];
        if (entry.rank < rank) continue;
        std::fprintf(stderr, "lock order violated: taking \"%s\" (rank %d) while holding \"%s\" (rank %d)\n",
                     name, static_cast<int>(rank), entry.name, static_cast<int>(entry.rank));
        std::fflush(stderr);
        std::abort();
    }
}

void LockOrder::Locked(const void* mutex, LockRank rank, const char* name)
{
    if (rank == LockRank::kUnranked) return;
    HeldLocks& held = tHeld;
    if (Held* entry = Find(held, mutex)) {
        ++entry->depth;
        return;
    }
    if (held.count == kMaxHeld) {
        std::fprintf(stderr, "lock order: more than %d locks held at once\n", kMaxHeld);
        std::abort();
    }
    held.entries[held.count++] = Held{mutex, rank, name, 1};
}

void LockOrder::Unlocked(const void* mutex)
{
    HeldLocks& held = tHeld;
    Held* entry = Find(held, mutex);
    if (entry == nullptr || --entry->depth > 0) return;
    // Unlocks need not come in reverse order.
    for (Held* next = entry + 1; next < held.entries + held.count; ++next) next[-1] = *next;
    --held.count;
}

LockOrder::Suspended::Suspended() { ++tSuspended; }

LockOrder::Suspended::~Suspended() { --tSuspended; }

int LockOrder::HeldCount()
{
    int count = 0;
    for (int i = 0; i < tHeld.count; ++i) count += tHeld.entries[i].depth;
    return count;
}

#endif

}  // namespace vdk
