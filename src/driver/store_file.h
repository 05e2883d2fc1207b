#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/storage_types.h"
#include "support/safe_buffer.h"

namespace qel {

// Byte images of the store's files. Every file but the revision file starts with the header
// {u16 version 2, u16 data size}, little-endian; bytes after header + data size are ignored.
class StoreFile {
public:
    enum class Kind { Index, Attribute, Data };

    static constexpr uint16_t kVersion = 2;
    static constexpr uint32_t kHeaderSize = 4;
    // Storage error mark: a store file with a damaged header was found.
    static constexpr uint32_t kDamagedHeaderMark = 0x8E000001;

    // Checks the header of a non-empty file image and returns its data size. zrck::Exception
    // CKR_DEVICE_ERROR with the store's texts; a short or foreign header also sets errorMark.
    static uint32_t CheckedDataSize(const tru::Buffer& file, Kind kind, const char* operation,
                                    uint32_t& errorMark);

    static void PutHeader(uint8_t* out, uint16_t dataSize);

    // Records of an index content of dataSize bytes after the header (free records included).
    static std::vector<storage::IndexFileRecord> ParseIndex(const tru::Buffer& file, uint32_t dataSize);
    static void PutIndexRecord(uint8_t* out, const storage::IndexFileRecord& record);

    // Whole attribute file image; vdk::Exception when the content would not fit 16 bits.
    static void BuildAttributeFile(const storage::Attribute* records, unsigned count, vdk::SafeBuffer& out);
    // Appends the records of an attribute file image; stops with CKR_DEVICE_ERROR at a record
    // running past the data size (records before it stay appended).
    static void ParseAttributeFile(const tru::Buffer& file, uint32_t dataSize,
                                   std::vector<storage::AttributeBuff>& list);

    // Whole data file image; vdk::Exception when the value would not fit 16 bits.
    static void BuildDataFile(const tru::Buffer& value, vdk::SafeBuffer& out);
};

}  // namespace qel
