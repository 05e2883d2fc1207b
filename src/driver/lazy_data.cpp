#include "driver/lazy_data.h"

#include "ckbase/exception.h"
#include "driver/token_storage.h"

namespace qel {

namespace {

void Assign(vdk::SafeBuffer& target, const tru::Buffer& source)
{
    const tru::TResult rc = target.Set(source.Size(), source.Data());
    if (rc != tru::SUCCESS) {
        throw tru::Exception(rc);
    }
}

}  // namespace

void LazyData::AssignStorageParams(long fileId, long attributeFile)
{
    if (fileId != fileId_) inFile_ = false;
    fileId_ = fileId;
    attributeFile_ = attributeFile;
    loaded_ = false;
}

void LazyData::SetData(const tru::Buffer& data)
{
    Assign(value_, data);
    set_ = true;
    inFile_ = false;
}

void LazyData::RefreshData(const LazyData& other)
{
    inFile_ = false;
    if (!other.loaded_ && !other.set_) {
        loaded_ = false;
        set_ = false;
        value_.Clear();
        return;
    }
    Assign(value_, other.value_);
    set_ = true;
}

void LazyData::CopyData(LazyData& other, TokenStorage* storage)
{
    other.GetData(storage);
    inFile_ = false;
    if (!other.loaded_ && !other.set_) {
        // An unbound twin has no value anywhere.
        loaded_ = false;
        set_ = false;
        value_.Clear();
        return;
    }
    Assign(value_, other.value_);
    set_ = true;
}

void LazyData::Reload(TokenStorage* storage)
{
    if (storage == nullptr) {
        throw zrck::Exception(CKR_FUNCTION_FAILED);
    }
    if (fileId_ == 0) {
        return;  // file 0 is the revision file, never a value
    }
    long holder = fileId_;
    const std::shared_ptr<tru::Buffer> data = storage->ReadDataFileM(fileId_, attributeFile_, &holder);
    fileId_ = holder;
    Assign(value_, *data);
    loaded_ = true;
    inFile_ = true;
}

const tru::Buffer& LazyData::GetData(TokenStorage* storage)
{
    if (!loaded_ && !set_ && fileId_ != 0) {
        Reload(storage);
    }
    return value_;
}

void LazyData::Store(TokenStorage& storage, long fileId, Rebind rebind)
{
    if ((!loaded_ && !set_) || (inFile_ && fileId_ == fileId)) return;
    // Written before it is bound: a failed write leaves the value as it was.
    storage.WriteDataFileM(fileId, value_);
    if (rebind == Rebind::Always || fileId_ != fileId) AssignStorageParams(fileId);
    inFile_ = true;
}

long LazyData::StoreReplacing(TokenStorage& storage, long fileId, long attributeFile)
{
    if (!loaded_ && !set_) {
        if (!storage.GetIndexCache().IsReserved(fileId)) return fileId;
        SetData(tru::Buffer());
    }
    if (inFile_ && fileId_ == fileId) return fileId;
    const long written = storage.RewriteDataFileM(fileId, attributeFile, value_);
    AssignStorageParams(written, attributeFile);
    inFile_ = true;
    return written;
}

}  // namespace qel
