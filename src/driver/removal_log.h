// Storage IDs this process removed from the token while listings of its index were being
// read: an object removed after a listing was read must not come back from that listing.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace qel {

class RemovalLog {
public:
    // Call under the storage lock, before the index is read; pair with EndRead.
    uint64_t BeginRead() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++readers_;
        return count_;
    }
    void EndRead() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--readers_ == 0) removed_.clear();
    }
    // Call under the storage lock, before the object's record leaves the index.
    void Note(uint32_t storageId) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        if (readers_ != 0) removed_.emplace_back(count_, storageId);
    }
    bool RemovedSince(uint64_t mark, uint32_t storageId) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : removed_) {
            if (entry.first > mark && entry.second == storageId) return true;
        }
        return false;
    }

    class Reading {
    public:
        explicit Reading(RemovalLog& log) : log_(log), mark_(log.BeginRead()) {}
        ~Reading() { log_.EndRead(); }
        Reading(const Reading&) = delete;
        Reading& operator=(const Reading&) = delete;
        bool Removed(uint32_t storageId) const { return log_.RemovedSince(mark_, storageId); }

    private:
        RemovalLog& log_;
        uint64_t mark_;
    };

private:
    mutable std::mutex mutex_;
    uint64_t count_ = 0;
    unsigned readers_ = 0;
    std::vector<std::pair<uint64_t, uint32_t>> removed_;
};

}  // namespace qel
