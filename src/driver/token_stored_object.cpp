#include "driver/token_stored_object.h"

#include "driver/storage_types.h"
#include "driver/token_storage.h"

namespace qel {

namespace {

constexpr uint32_t kFileEntrySize = 16;

}  // namespace

uint32_t TokenStoredObject::GetStorageSize(TokenStorage* storage)
{
    if (objectFile_ == 0 || storage == nullptr) {
        return 0;
    }
    uint32_t size = kFileEntrySize;
    if (objectFile_ < fileid::kKeySlotFirst) {
        size += storage->GetFileSizeM(objectFile_);
    }
    if (attributeFile_ != 0) {
        size += kFileEntrySize + storage->GetFileSizeM(attributeFile_);
    }
    return size;
}

uint32_t TokenStoredObject::GetStorageID() const
{
    if (storageId_ != 0) {
        return storageId_;
    }
    return static_cast<uint32_t>(attributeFile_) << 16 | static_cast<uint32_t>(objectFile_);
}

void TokenStoredObject::MoveToFiles(long objectFile, long attributeFile)
{
    objectFile_ = objectFile;
    attributeFile_ = attributeFile;
    storageId_ = static_cast<uint32_t>(attributeFile) << 16 | static_cast<uint32_t>(objectFile);
}

bool TokenStoredObject::GetStoredRecords(std::vector<storage::AttributeBuff>& records) const
{
    if (recordsKnown_) {
        records = records_;
    }
    return recordsKnown_;
}

void TokenStoredObject::SetStoredRecords(const std::vector<storage::AttributeBuff>& records)
{
    records_ = records;
    recordsKnown_ = true;
}

void TokenStoredObject::SetLabelStored(const tru::Buffer& label)
{
    const tru::TResult rc = label_.Set(label.Size(), label.Data());
    if (rc != tru::SUCCESS) {
        throw tru::Exception(rc);
    }
}

}  // namespace qel
