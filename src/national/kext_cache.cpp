#include "national/kext_cache.h"

#include "national/dke_tables.h"
#include "tru2/buffer.h"

#include <cstring>

namespace qel {

KExtTable::KExtTable(const uint8_t* dke)
{
    std::memcpy(dke_, dke, sizeof(dke_));
    uint8_t sblock[kSBlockSize];
    DkeToSBlock(dke, sblock);
    // Every S-block entry is a nibble, so the expansion cannot fail.
    g28147_make_kext(words_, sblock);
    tru::Buffer::Wipe(sizeof(sblock), sblock);
}

KExtTable::~KExtTable()
{
    tru::Buffer::Wipe(sizeof(words_), words_);
    tru::Buffer::Wipe(sizeof(dke_), dke_);
}

bool KExtTable::IsFor(const uint8_t* dke) const { return std::memcmp(dke_, dke, sizeof(dke_)) == 0; }

KExtCache& KExtCache::Instance()
{
    static KExtCache cache;
    return cache;
}

std::shared_ptr<const KExtTable> KExtCache::Get(const uint8_t* dke)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if ((*it)->IsFor(dke)) {
            entries_.splice(entries_.begin(), entries_, it);
            return entries_.front();
        }
    }
    entries_.push_front(std::make_shared<const KExtTable>(dke));
    if (entries_.size() > kCapacity) entries_.pop_back();
    return entries_.front();
}

size_t KExtCache::Size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void KExtCache::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

} // namespace qel
