#pragma once

#include "support/safe_buffer.h"

namespace qel {

class TokenStorage;

// One large attribute value kept in a token data file and read only when first asked for.
// States: unbound (file ID 0), bound and unread, in memory (loaded from the file or set).
class LazyData {
public:
    LazyData() = default;
    LazyData(const LazyData&) = delete;
    LazyData& operator=(const LazyData&) = delete;
    virtual ~LazyData() = default;  // the value wipes itself

    // Binds the value to a data file; a loaded value goes back to unread, a set one stays. With
    // the attribute file of the object's index record, a missing data file is judged by that
    // record (TokenStorage::ReadDataFileM) and a value that moved is read where it is.
    void AssignStorageParams(long fileId, long attributeFile = 0);
    // The object's attribute file now (it may have been replaced since the value was bound); only
    // a value bound with an attribute file is judged by its record.
    void FollowAttributeFile(long attributeFile)
    {
        if (attributeFile_ != 0) attributeFile_ = attributeFile;
    }
    // The value as it stands, without touching the token.
    const vdk::SafeBuffer& GetBuffer() const { return value_; }
    void SetData(const tru::Buffer& data);
    // Takes over a twin's state: an unread, unset twin empties this value and clears both flags.
    void RefreshData(const LazyData& other);
    // For a copy of an object: a twin that was never read is read first, so the copy carries
    // the value.
    void CopyData(LazyData& other, TokenStorage* storage);
    // Reads the data file; an unbound value reads nothing. zrck::Exception CKR_FUNCTION_FAILED
    // without a storage.
    void Reload(TokenStorage* storage);
    // The value, read first unless it is in memory or bound to no file.
    const tru::Buffer& GetData(TokenStorage* storage);
    // A value in memory (loaded or set) is written to the data file and then bound to it;
    // otherwise, or when that file holds it already, nothing happens. Binding marks a loaded
    // value unread, except with KeepLoaded when the value is bound to that file already.
    enum class Rebind { Always, KeepLoaded };
    void Store(TokenStorage& storage, long fileId, Rebind rebind = Rebind::Always);
    // As Store, for a value that may change after its object was filed with these files: the
    // file is replaced, never rewritten (TokenStorage::RewriteDataFileM). An unread, unset value
    // of an object not filed yet is written empty, so every filed object has its data file.
    // Returns the object's data file from now on.
    long StoreReplacing(TokenStorage& storage, long fileId, long attributeFile);

    long GetFileId() const { return fileId_; }
    bool IsLoaded() const { return loaded_; }
    bool IsSet() const { return set_; }

private:
    long fileId_ = 0;
    long attributeFile_ = 0;
    bool loaded_ = false;
    bool set_ = false;
    // The value is what the bound file holds: written there or read from it.
    bool inFile_ = false;
    vdk::SafeBuffer value_;
};

}  // namespace qel
