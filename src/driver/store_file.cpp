#include "driver/store_file.h"

#include "ckbase/exception.h"
#include "support/math.h"
#include "support/vdk_exception.h"

namespace qel {

namespace {

using vdk::Math;

uint16_t GetLE16(const uint8_t* p)
{
    return Math::GetUShort(Math::LITTLE_ENDIAN_ORDER, p);
}

void PutLE16(uint16_t value, uint8_t* p)
{
    Math::PutUShort(Math::LITTLE_ENDIAN_ORDER, value, p);
}

[[noreturn]] void Fail(const std::string& text)
{
    throw zrck::Exception(CKR_DEVICE_ERROR, text);
}

void Allocate(vdk::SafeBuffer& out, uint32_t size)
{
    const tru::TResult rc = out.Alloc(size);
    if (rc != tru::SUCCESS) {
        throw tru::Exception(rc);
    }
}

}  // namespace

uint32_t StoreFile::CheckedDataSize(const tru::Buffer& file, Kind kind, const char* operation, uint32_t& errorMark)
{
    const char* name = kind == Kind::Index ? "index" : kind == Kind::Attribute ? "attr" : "data";
    const uint32_t length = file.Size();
    if (length < kHeaderSize) {
        errorMark = kDamagedHeaderMark;
        Fail(std::string("Wrong ") + name + " file header read");
    }
    const uint16_t version = GetLE16(file.Data());
    if (version != kVersion) {
        errorMark = kDamagedHeaderMark;
        Fail(std::string("Wrong ") + name + " file version " + std::to_string(version) +
             (kind == Kind::Data ? " read" : "  read"));
    }
    const uint32_t dataSize = GetLE16(file.Data() + 2);
    if (length < kHeaderSize + dataSize) {
        Fail(std::string("TokenStorage::") + operation + ": ERROR: Bad index file header size - headPtr->size: " +
             std::to_string(dataSize) + ", dataSize: " + std::to_string(length));
    }
    return dataSize;
}

void StoreFile::PutHeader(uint8_t* out, uint16_t dataSize)
{
    PutLE16(kVersion, out);
    PutLE16(dataSize, out + 2);
}

std::vector<storage::IndexFileRecord> StoreFile::ParseIndex(const tru::Buffer& file, uint32_t dataSize)
{
    std::vector<storage::IndexFileRecord> records;
    const uint8_t* content = file.Data() + kHeaderSize;
    for (uint32_t shift = 0; shift < dataSize; shift += storage::kIndexRecordSize) {
        if (dataSize - shift < storage::kIndexRecordSize) {
            Fail("Broken index file. dataSize: " + std::to_string(dataSize) + ", currShift: " +
                 std::to_string(shift) + ", sizeof(storage::IndexFileRecord): 6");
        }
        const uint8_t* p = content + shift;
        records.push_back({GetLE16(p), GetLE16(p + 2), GetLE16(p + 4)});
    }
    return records;
}

void StoreFile::PutIndexRecord(uint8_t* out, const storage::IndexFileRecord& record)
{
    PutLE16(record.itemType, out);
    PutLE16(record.objectFile, out + 2);
    PutLE16(record.attributeFile, out + 4);
}

void StoreFile::BuildAttributeFile(const storage::Attribute* records, unsigned count, vdk::SafeBuffer& out)
{
    uint64_t contentSize = 0;
    for (unsigned i = 0; i < count; ++i) {
        contentSize += 4u + records[i].length;
    }
    if (contentSize > 0xFFFF) {
        throw vdk::Exception("Unsigned long " + std::to_string(contentSize) + " too big for unsigned short");
    }
    Allocate(out, kHeaderSize + static_cast<uint32_t>(contentSize));
    PutHeader(out.Data(), static_cast<uint16_t>(contentSize));
    uint8_t* p = out.Data() + kHeaderSize;
    for (unsigned i = 0; i < count; ++i) {
        PutLE16(records[i].id, p);
        PutLE16(records[i].length, p + 2);
        if (records[i].length != 0) {
            std::memcpy(p + 4, records[i].value, records[i].length);
        }
        p += 4u + records[i].length;
    }
}

void StoreFile::ParseAttributeFile(const tru::Buffer& file, uint32_t dataSize,
                                   std::vector<storage::AttributeBuff>& list)
{
    const uint8_t* content = file.Data() + kHeaderSize;
    uint32_t p = 0;
    while (p < dataSize) {
        if (dataSize - p < 4) {
            Fail("Broken attr file. dataSize: " + std::to_string(dataSize) + ", i: " + std::to_string(p));
        }
        const uint16_t id = GetLE16(content + p);
        const uint16_t length = GetLE16(content + p + 2);
        const uint32_t v = p + 4;
        if (dataSize - v < length) {
            Fail("Broken index file. dataSize: " + std::to_string(dataSize) + ", i: " + std::to_string(v) +
                 ", size: " + std::to_string(length));
        }
        list.push_back({id, std::make_shared<vdk::SafeBuffer>(content + v, length)});
        p = v + length;
    }
}

void StoreFile::BuildDataFile(const tru::Buffer& value, vdk::SafeBuffer& out)
{
    const uint16_t length = vdk::SizeToUShortDynamic(value.Size());
    Allocate(out, kHeaderSize + length);
    PutHeader(out.Data(), length);
    if (length != 0) {
        std::memcpy(out.Data() + kHeaderSize, value.Data(), length);
    }
}

}  // namespace qel
