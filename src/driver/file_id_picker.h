#pragma once

#include <cstddef>
#include <cstdint>

namespace qel {

// Chooses the file IDs (or key slots) a new object gets among the free ones of a range, so that
// the IDs a deletion just freed are not handed out again at once while others are free: a handle
// another process still holds to the destroyed object would otherwise meet the new object in the
// same files. IDs this process freed come last, the longest freed first; the others are taken
// next-fit from just after the highest ID in use, wrapping to the lowest. Every free ID is used
// before an allocation fails. Used only under the storage mutex.
class FileIdPicker {
public:
    static constexpr long kIds = 256;

    // A file or key slot this process deleted.
    void NoteFreed(long id);
    // The `count` preferred IDs of [first, last] not marked used, into ids; false (ids
    // untouched) when fewer are free. The chosen IDs no longer count as freed here.
    bool Pick(const bool (&used)[kIds], long first, long last, long* ids, size_t count);

private:
    uint64_t freedAt_[kIds] = {};  // 0: not freed by this process
    uint64_t frees_ = 0;
};

}  // namespace qel
