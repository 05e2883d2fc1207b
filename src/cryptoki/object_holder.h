// Handle registries: a locked map from handles (counting from 1, never reused) to shared objects.
#ifndef ZR_CRYPTOKI_OBJECT_HOLDER_H
#define ZR_CRYPTOKI_OBJECT_HOLDER_H

#include <functional>
#include <limits>
#include <memory>
#include <unordered_map>

#include "ckbase/base_access.h"
#include "ckbase/exception.h"

namespace zrck {

template <class T>
class ObjectHolderSynchronized {
public:
    using Pointer = std::shared_ptr<T>;
    // Called under the registry lock; false refuses the object to the lookup.
    using Acceptor = std::function<bool(T&)>;
    // Called under the registry lock; sets remove to drop the entry, returns false to stop.
    using RemovalVisitor = std::function<bool(T&, bool& remove)>;

    ObjectHolderSynchronized() : mMutex(CreateNamedMutex("ObjectHolderSynchronized")) {}
    ~ObjectHolderSynchronized() {
        // Entries may call back into objects that outlive us; drop them before the mutex.
        mMap.clear();
    }

    // Issues the next handle; assign runs under the lock so the object knows its handle
    // before any other thread can find it.
    CK_ULONG Put(Pointer object, const std::function<void(T&, CK_ULONG)>& assign = nullptr) {
        vdk::MutexIntf::Guard guard(*mMutex, "PutConst");
        if (mCounter == std::numeric_limits<CK_ULONG>::max()) throw Exception(CKR_GENERAL_ERROR);
        const CK_ULONG handle = ++mCounter;
        if (assign) assign(*object, handle);
        mMap[handle] = std::move(object);
        return handle;
    }

    Pointer GetIfExists(CK_ULONG handle, const Acceptor& accept = nullptr) const {
        vdk::MutexIntf::Guard guard(*mMutex, "GetIfExists2");
        auto found = mMap.find(handle);
        if (found == mMap.end() || !found->second) return Pointer();
        if (accept && !accept(*found->second)) return Pointer();
        return found->second;
    }

    bool Delete(CK_ULONG handle) {
        Pointer dropped;  // destroyed after the lock is released
        vdk::MutexIntf::Guard guard(*mMutex, "Delete");
        auto found = mMap.find(handle);
        if (found == mMap.end()) return false;
        dropped = std::move(found->second);
        mMap.erase(found);
        return true;
    }

    bool EnumerateToDelete(const RemovalVisitor& visit) {
        std::vector<Pointer> dropped;
        vdk::MutexIntf::Guard guard(*mMutex, "EnumerateToDelete");
        bool removedAny = false;
        for (auto it = mMap.begin(); it != mMap.end();) {
            bool remove = false;
            const bool goOn = it->second ? visit(*it->second, remove) : true;
            if (remove) {
                dropped.push_back(std::move(it->second));
                it = mMap.erase(it);
                removedAny = true;
            } else {
                ++it;
            }
            if (!goOn) break;
        }
        return removedAny;
    }

    // Visits every object under the lock; false from the visitor stops the walk.
    bool Enumerate(const std::function<bool(T&)>& visit) const {
        vdk::MutexIntf::Guard guard(*mMutex, "Enumerate");
        for (const auto& entry : mMap) {
            if (entry.second && !visit(*entry.second)) return false;
        }
        return true;
    }

    std::vector<Pointer> Snapshot() const {
        vdk::MutexIntf::Guard guard(*mMutex, "Enumerate");
        std::vector<Pointer> all;
        for (const auto& entry : mMap) {
            if (entry.second) all.push_back(entry.second);
        }
        return all;
    }

    CK_ULONG GetCount() const {
        vdk::MutexIntf::Guard guard(*mMutex, "Count");
        return mMap.size();
    }

    vdk::MutexIntf& GetMutex() const { return *mMutex; }

private:
    MutexPtr mMutex;
    CK_ULONG mCounter = 0;
    std::unordered_map<CK_ULONG, Pointer> mMap;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_OBJECT_HOLDER_H
