#pragma once

#include <cstdint>
#include <vector>

#include "driver/storage_types.h"
#include "tru2/buffer.h"

namespace qel {

class TokenStorage;

// Second base of every object class kept in token files: the object's data file (or key slot)
// and attribute file, its storage ID, the values of CKA_MODIFIABLE, CKA_COPYABLE and CKA_LABEL,
// and the refresh lock that keeps an object not yet indexed by its slot from being refreshed.
class TokenStoredObject {
public:
    TokenStoredObject() = default;
    TokenStoredObject(const TokenStoredObject&) = delete;
    TokenStoredObject& operator=(const TokenStoredObject&) = delete;
    virtual ~TokenStoredObject() = default;

    // Writes the object's files; reserves IDs first when the object file is 0.
    virtual void StoreAttributes() = 0;
    // Reads the attribute file and binds the lazy values to the object file.
    virtual void ReadAttributes() = 0;
    virtual void InitDefaults() = 0;
    // The class's item type; 0 for a class that is never stored.
    virtual uint16_t GetTokenIndexType() const = 0;
    // Bytes the object takes on the token: 0 without files or storage; else 16 per file plus the
    // file sizes (a key slot counts 16 alone).
    virtual uint32_t GetStorageSize(TokenStorage* storage);
    // Takes over the values of a twin read again from the token.
    virtual bool RefreshFrom(TokenStoredObject& other) = 0;
    // Follows the object to the files another process moved it to (a replaced attribute file,
    // or a value written into a new data file); the storage ID follows the files.
    virtual void MoveToFiles(long objectFile, long attributeFile);

    long GetObjectFile() const { return objectFile_; }
    void SetObjectFile(long fileId) { objectFile_ = fileId; }
    long GetAttributeFile() const { return attributeFile_; }
    void SetAttributeFile(long fileId) { attributeFile_ = fileId; }
    // attribute file << 16 | object file; formed from the file IDs while not set.
    uint32_t GetStorageID() const;
    void SetStorageID(uint32_t storageId) { storageId_ = storageId; }

    bool IsModifiableStored() const { return modifiable_; }
    void SetModifiableStored(bool value) { modifiable_ = value; }
    bool IsCopyableStored() const { return copyable_; }
    void SetCopyableStored(bool value) { copyable_ = value; }
    const tru::BufferDynamic& GetLabelStored() const { return label_; }
    void SetLabelStored(const tru::Buffer& label);

    // The attribute file's records as this process last read or wrote them for this object;
    // false when not known (then the storage's last reading of the file stands in).
    bool GetStoredRecords(std::vector<storage::AttributeBuff>& records) const;
    void SetStoredRecords(const std::vector<storage::AttributeBuff>& records);

    bool IsRefreshLocked() const { return refreshLock_; }
    void SetRefreshLock(bool locked) { refreshLock_ = locked; }

private:
    long objectFile_ = 0;
    long attributeFile_ = 0;
    uint32_t storageId_ = 0;
    bool modifiable_ = true;
    bool copyable_ = true;
    tru::BufferDynamic label_;
    bool refreshLock_ = true;
    bool recordsKnown_ = false;
    std::vector<storage::AttributeBuff> records_;
};

// A stored object that never takes values from a twin.
class TokenStoredOwnedObject : public TokenStoredObject {
public:
    bool RefreshFrom(TokenStoredObject&) override { return false; }
};

}  // namespace qel
