// Process-wide cache of expanded S-box tables: a DKE is expanded into its 4096-byte KExt once
// and shared by every context that uses it.
#pragma once

#include "qelcrypt/g28147.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

namespace qel {

// One expanded table with the DKE it came from; wiped when the last holder lets go.
class KExtTable {
public:
    explicit KExtTable(const uint8_t* dke);
    ~KExtTable();
    KExtTable(const KExtTable&) = delete;
    KExtTable& operator=(const KExtTable&) = delete;

    const uint32_t* Words() const { return words_; }
    bool IsFor(const uint8_t* dke) const;

private:
    alignas(64) uint32_t words_[G28147_KEXT_WORDS];
    uint8_t dke_[64];
};

class KExtCache {
public:
    // Tables kept beyond their holders' use; the least recently used one goes first.
    static constexpr size_t kCapacity = 16;

    static KExtCache& Instance();

    // The expanded table of a 64-byte DKE. Holders keep it alive after eviction.
    std::shared_ptr<const KExtTable> Get(const uint8_t* dke);
    size_t Size() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::list<std::shared_ptr<const KExtTable>> entries_;  // most recently used first
};

} // namespace qel
