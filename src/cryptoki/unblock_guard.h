// Scope guards of the object and search bodies: one ends a locking lookup of an object, the
// other undoes a half-started search.
#ifndef ZR_CRYPTOKI_UNBLOCK_GUARD_H
#define ZR_CRYPTOKI_UNBLOCK_GUARD_H

#include "cryptoki/framework_types.h"
#include "cryptoki/slot.h"

namespace zrck {

// Holds an object found by GetBlockObjectIfExists (or GetDelBlockObjectIfExists) and lowers
// its use count on every exit; with clearDeleted it also takes back the deleted mark.
class UnblockGuard {
public:
    UnblockGuard(Slot& slot, TokObjectPtr object, bool clearDeleted = false)
        : mSlot(slot), mObject(std::move(object)), mClearDeleted(clearDeleted) {}
    UnblockGuard(const UnblockGuard&) = delete;
    UnblockGuard& operator=(const UnblockGuard&) = delete;
    ~UnblockGuard() {
        if (!mObject) return;
        try {
            if (mClearDeleted) mObject->SetDeleted(false);
            mSlot.ReleaseObject(mObject);
        } catch (...) {
            // Releasing runs while a failure may be passing; it must not throw.
        }
    }

    // Leaves the object locked and marked (a completed deletion).
    void Dismiss() { mObject.reset(); }
    // Keeps the deleted mark but still lowers the use count: a deletion that may have been
    // queued waits only for the object's other users.
    void KeepDeleted() { mClearDeleted = false; }
    TokObject* Get() const { return mObject.get(); }

private:
    Slot& mSlot;
    TokObjectPtr mObject;
    bool mClearDeleted;
};

// Empties a session's search results and ends its search unless dismissed.
class SearchFinalizer {
public:
    explicit SearchFinalizer(SessionFrame* session) : mSession(session) {}
    SearchFinalizer(const SearchFinalizer&) = delete;
    SearchFinalizer& operator=(const SearchFinalizer&) = delete;
    ~SearchFinalizer();
    void Dismiss() { mDismissed = true; }

private:
    bool mDismissed = false;
    SessionFrame* mSession;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_UNBLOCK_GUARD_H
