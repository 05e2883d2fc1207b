// The rule that decides whether an object another process changed is still the object a
// handle was given for: only what C_SetAttributeValue may change differs in its files.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/storage_types.h"

namespace qel {

using StoredRecordList = std::vector<storage::AttributeBuff>;

// Whether the attribute records `after` (read now) can belong to the object whose records this
// process last read or wrote as `before`, an object of this item type: every record that
// C_SetAttributeValue cannot change holds the same bytes (or is absent from both), and each
// one-way flag moved only its own way. Both lists come from the same index record, or from one
// whose attribute file or (see ValueMayMove) data file alone was replaced.
bool IsSameStoredObject(uint16_t itemType, const StoredRecordList& before, const StoredRecordList& after);

// Whether C_SetAttributeValue may change a value the item type keeps in its data file, so that
// the value may move to a new data file under the same attribute file (a data object's value).
bool ValueMayMove(uint16_t itemType);

}  // namespace qel
