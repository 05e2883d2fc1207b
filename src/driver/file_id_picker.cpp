#include "driver/file_id_picker.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace qel {

void FileIdPicker::NoteFreed(long id)
{
    if (id > 0 && id < kIds) {
        freedAt_[id] = ++frees_;
    }
}

bool FileIdPicker::Pick(const bool (&used)[kIds], long first, long last, long* ids, size_t count)
{
    first = std::max(first, 1L);
    last = std::min(last, kIds - 1);
    if (first > last) {
        return false;
    }
    long start = first;
    for (long id = last; id >= first; --id) {
        if (used[id]) {
            start = id < last ? id + 1 : first;
            break;
        }
    }
    const long span = last - first + 1;
    // (when freed here, distance after the start of the next-fit search, ID)
    std::vector<std::tuple<uint64_t, long, long>> candidates;
    for (long id = first; id <= last; ++id) {
        if (!used[id]) {
            candidates.emplace_back(freedAt_[id], (id - start + span) % span, id);
        }
    }
    if (candidates.size() < count) {
        return false;
    }
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(count), candidates.end());
    for (size_t i = 0; i < count; ++i) {
        ids[i] = std::get<2>(candidates[i]);
        freedAt_[ids[i]] = 0;
    }
    return true;
}

}  // namespace qel
