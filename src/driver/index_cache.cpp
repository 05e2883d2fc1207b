#include "driver/index_cache.h"

#include "driver/token_storage.h"

namespace qel {

IndexCache::IndexCache(TokenStorage& storage) : storage_(storage) {}

void IndexCache::ClearReserve()
{
    reserve_.clear();
    changed_ = false;
}

void IndexCache::AddToReserve(EVisibility visibility, uint16_t itemType, long objectFile, long attributeFile)
{
    reserve_.push_back(std::make_shared<IndexRecord>(IndexRecord{visibility, itemType, objectFile, attributeFile}));
}

void IndexCache::DeleteFromReserve(long objectFile)
{
    for (auto it = reserve_.begin(); it != reserve_.end(); ++it) {
        if ((*it)->objectFile == objectFile) {
            reserve_.erase(it);
            return;
        }
    }
}

bool IndexCache::StoreReserve()
{
    if (reserve_.empty()) {
        return changed_;
    }
    std::list<std::shared_ptr<IndexRecord>> records;
    records.swap(reserve_);
    size_t filed = 0;
    try {
        for (const auto& r : records) {
            storage_.AddToIndexFile(r->visibility, r->itemType, r->objectFile, r->attributeFile);
            ++filed;
            changed_ = true;
        }
    } catch (...) {
        // All or nothing: the objects of this call disappear with their files and records.
        size_t i = 0;
        for (const auto& r : records) {
            try {
                if (i++ < filed) {
                    storage_.DeleteStorageObject(static_cast<uint32_t>(r->attributeFile) << 16 |
                                                     static_cast<uint32_t>(r->objectFile),
                                                 false);
                } else {
                    storage_.DeleteObjectFiles(r->objectFile, r->attributeFile);
                }
            } catch (...) {
            }
        }
        throw;
    }
    return changed_;
}

bool IndexCache::IsReserved(long fileId) const
{
    for (const auto& r : reserve_) {
        if (r->objectFile == fileId || r->attributeFile == fileId) {
            return true;
        }
    }
    return false;
}

void IndexCache::MarkReservedIds(bool (&used)[256]) const
{
    for (const auto& r : reserve_) {
        if (r->objectFile >= 0 && r->objectFile < 256) {
            used[r->objectFile] = true;
        }
        if (r->attributeFile >= 0 && r->attributeFile < 256) {
            used[r->attributeFile] = true;
        }
    }
}

}  // namespace qel
