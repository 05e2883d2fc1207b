// A GOST 28147-89 key made ready for the routines: its eight key words and the expanded table
// of its S-box, both held only while an operation runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "national/kext_cache.h"
#include "objects/tok_key.h"
#include "support/noncopyable.h"

namespace qel {

class TokUAGostSecretKey;

class GostKeySchedule : private vdk::Noncopyable {
public:
    GostKeySchedule() = default;
    ~GostKeySchedule() { Clear(); }

    // The key's value must be 32 bytes (CKR_KEY_SIZE_RANGE) and its S-box 64 bytes
    // ("DKE size should be 64 bytes", CKR_MECHANISM_PARAM_INVALID).
    void Load(TokUAGostSecretKey& key);
    // Wipes the key words and lets the table go.
    void Clear();

    bool IsLoaded() const { return table_ != nullptr; }
    const uint32_t* Key() const { return words_; }
    const uint32_t* KExt() const { return table_->Words(); }

private:
    uint32_t words_[8] = {};
    std::shared_ptr<const KExtTable> table_;
};

// The token's GOST key behind a key handed to a GOST mechanism: CKR_KEY_TYPE_INCONSISTENT for
// any other key class.
TokUAGostSecretKey& AsGostKey(zrck::TokKey& key);

// Compares check values without an early exit, so timing tells nothing of where they differ.
inline bool SameBytes(const uint8_t* a, const uint8_t* b, size_t length)
{
    uint8_t difference = 0;
    for (size_t i = 0; i < length; ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
    return difference == 0;
}

// Wipes a routine context or any other plain record.
template <class Record>
void WipeRecord(Record& record)
{
    tru::Buffer::Wipe(sizeof record, &record);
}

}  // namespace qel
