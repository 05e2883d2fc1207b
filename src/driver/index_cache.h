#pragma once

#include <cstdint>
#include <list>
#include <memory>

#include "driver/storage_types.h"

namespace qel {

class TokenStorage;

// Index records reserved for objects being created and not yet filed, with the store's
// pending-change mark. Used only under the storage mutex.
class IndexCache {
public:
    struct IndexRecord {
        EVisibility visibility;
        uint16_t itemType;
        long objectFile;
        long attributeFile;
    };

    explicit IndexCache(TokenStorage& storage);
    IndexCache(const IndexCache&) = delete;
    IndexCache& operator=(const IndexCache&) = delete;

    void ClearReserve();
    void AddToReserve(EVisibility visibility, uint16_t itemType, long objectFile, long attributeFile);
    // Removes the first record with that object file; none: nothing.
    void DeleteFromReserve(long objectFile);
    // Files the reserve in the index files, in reservation order; true when stored objects
    // changed. When filing fails, every reserved record and its files are removed again and
    // the error propagates.
    bool StoreReserve();

    // True when a reserved record holds this file ID: its file is new or left over from an
    // object never filed.
    bool IsReserved(long fileId) const;
    // Marks every file ID held by a reserved record (flags indexed by ID, 256 entries).
    void MarkReservedIds(bool (&used)[256]) const;
    size_t ReserveSize() const { return reserve_.size(); }

    void SetChanged() { changed_ = true; }
    void ClearChanged() { changed_ = false; }
    bool IsChanged() const { return changed_; }

private:
    TokenStorage& storage_;
    std::list<std::shared_ptr<IndexRecord>> reserve_;
    bool changed_ = false;
};

}  // namespace qel
