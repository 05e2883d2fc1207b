// The on-token object store: index, attribute and data files, free IDs, reservations and keys
// held in device key slots.
#include <algorithm>
#include <cstring>

#include "ckbase/exception.h"
#include "device/zr_scard.h"
#include "driver/store_file.h"
#include "driver/token_storage_internal.h"
#include "support/vdk_exception.h"

namespace qel {

using namespace detail;

namespace {

struct IdRange {
    long first;
    long last;
    long index;
};

IdRange RangeOf(EVisibility visibility)
{
    switch (visibility) {
    case PublicObject:
        return {fileid::kPublicFirst, fileid::kPublicLast, fileid::kPublicIndex};
    case PrivateObject:
        return {fileid::kPrivateFirst, fileid::kPrivateLast, fileid::kPrivateIndex};
    case KeyPairObject:
        return {fileid::kKeySlotFirst, fileid::kKeySlotLast, fileid::kPrivateIndex};
    }
    throw zrck::Exception(CKR_GENERAL_ERROR);
}

long IndexOfObjectFile(long objectFile)
{
    return objectFile < fileid::kPrivateFirst ? fileid::kPublicIndex : fileid::kPrivateIndex;
}

void DataFileImage(const tru::Buffer& value, vdk::SafeBuffer& image)
{
    if (value.Size() > 0xFFFF) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID,
                              "Size " + std::to_string(value.Size()) + " too big for unsigned short");
    }
    StoreFile::BuildDataFile(value, image);
}

// Item types of the private and public key of a key pair.
struct PairTypes {
    uint16_t privateType;
    uint16_t publicType;
};

}  // namespace

// ---- data and attribute files ----

void TokenStorage::WriteDataFileM(long fileId, const tru::Buffer& value)
{
    BusyGuard guard(*this, "WriteDataFileM");
    OpenDevSessionInt();
    vdk::SafeBuffer image;
    DataFileImage(value, image);
    WriteWholeFileInt(fileId, image, indexCache_.IsReserved(fileId));
}

void TokenStorage::WriteWholeFileInt(long fileId, const tru::Buffer& image, bool likelyMissing)
{
    // A file cannot shrink: a non-empty one is made anew. The file of a new ID is normally
    // missing: created straight away, measured only when it is left over.
    if (likelyMissing && CreateNewFileD(fileId)) {
        // new and empty
    } else if (GetFileSizeD(fileId) != 0) {
        DeleteObjectD(fileId);
        CreateFileD(fileId, TokenObject);
    } else if (!likelyMissing && !IsFileExistsD(fileId)) {
        CreateFileD(fileId, TokenObject);
    }
    WriteFileD(fileId, 0, image.Data(), image.Size());
    indexCache_.SetChanged();
}

long TokenStorage::RewriteDataFileM(long dataFile, long attributeFile, const tru::Buffer& value)
{
    BusyGuard guard(*this, "RewriteDataFileM");
    OpenDevSessionInt();
    vdk::SafeBuffer image;
    DataFileImage(value, image);
    if (indexCache_.IsReserved(dataFile)) {
        // Not filed yet: no record names the file.
        WriteWholeFileInt(dataFile, image, true);
        return dataFile;
    }
    const long written = ReplaceFiledFileInt(dataFile, attributeFile, image);
    if (written == 0) {
        throw zrck::Exception(CKR_OBJECT_HANDLE_INVALID);  // removed by another process
    }
    return written;
}

long TokenStorage::ReplaceFiledFileInt(long fileId, long attributeFile, const tru::Buffer& image)
{
    const long indexFile = IndexOfObjectFile(fileId);
    tru::BufferDynamic file;
    std::vector<storage::IndexFileRecord> records;
    ReadIndex(indexFile, "ReplaceFiledFile", file, records);
    const bool isData = attributeFile != 0;
    const auto record = std::find_if(records.begin(), records.end(), [&](const storage::IndexFileRecord& r) {
        return r.itemType != ItemFree &&
               (isData ? r.objectFile == fileId && r.attributeFile == attributeFile : r.attributeFile == fileId);
    });
    if (record == records.end()) {
        return 0;
    }
    // The old file stays whole until the record names the new one: one 6-byte write switches it.
    const long fresh = GetFreeFileID(fileId < fileid::kPrivateFirst ? PublicObject : PrivateObject);
    WriteWholeFileInt(fresh, image, true);
    storage::IndexFileRecord switched = *record;
    (isData ? switched.objectFile : switched.attributeFile) = static_cast<uint16_t>(fresh);
    uint8_t bytes[storage::kIndexRecordSize];
    StoreFile::PutIndexRecord(bytes, switched);
    const uint32_t offset =
        StoreFile::kHeaderSize + static_cast<uint32_t>(record - records.begin()) * storage::kIndexRecordSize;
    WriteFileD(indexFile, offset, bytes, sizeof(bytes));
    indexCache_.SetChanged();
    try {
        DeleteObjectD(fileId);
    } catch (const zrck::Exception&) {
        // Left over, named by no record: its ID is free and the next object's write replaces it.
    }
    return fresh;
}

long TokenStorage::TakeMovedAttributeFile(long attributeFile)
{
    const auto moved = movedAttributeFiles_.find(attributeFile);
    if (moved == movedAttributeFiles_.end()) {
        return attributeFile;
    }
    const long now = moved->second;
    movedAttributeFiles_.erase(moved);
    return now;
}

std::shared_ptr<tru::Buffer> TokenStorage::ReadDataFileM(long fileId, long attributeFile, long* holder)
{
    BusyGuard guard(*this, "ReadDataFileM");
    // The file and, when it is missing, the record that tells why: one token transaction.
    TokenTransaction transaction(*this);
    OpenDevSessionInt();
    RunCommandCheck();
    vdk::SafeBuffer file;
    long current = fileId;
    while (!ReadWholeFileD(current, file)) {
        const long named = attributeFile != 0 ? DataFileNamedInt(attributeFile) : 0;
        if (named != 0 && named == current) {
            // Filed without a value (as earlier versions wrote an object that never had one).
            if (holder != nullptr) {
                *holder = current;
            }
            return std::make_shared<vdk::SafeBuffer>();
        }
        if (named == 0 || current != fileId) {
            // No record names the object: changed or removed by another process.
            throw MissingStoreFile(fileId);
        }
        current = named;  // the value moved to a new file
    }
    if (holder != nullptr) {
        *holder = current;
    }
    if (file.Empty()) {
        return std::make_shared<vdk::SafeBuffer>();
    }
    const uint32_t dataSize = StoreFile::CheckedDataSize(file, StoreFile::Kind::Data, "ReadDataFileM", errorMark_);
    return std::make_shared<vdk::SafeBuffer>(file.Data() + StoreFile::kHeaderSize, dataSize);
}

long TokenStorage::DataFileNamedInt(long attributeFile)
{
    tru::BufferDynamic file;
    std::vector<storage::IndexFileRecord> records;
    ReadIndex(IndexOfObjectFile(attributeFile), "DataFileNamed", file, records);
    for (const storage::IndexFileRecord& r : records) {
        if (r.itemType != ItemFree && r.attributeFile == attributeFile) {
            return r.objectFile;
        }
    }
    return 0;
}

void TokenStorage::WriteAttributeFile(long fileId, const storage::Attribute* records, unsigned count)
{
    vdk::SafeBuffer image;
    try {
        StoreFile::BuildAttributeFile(records, count, image);
    } catch (const vdk::Exception& e) {
        throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID, e.what());
    }
    const bool reserved = indexCache_.IsReserved(fileId);
    if (!reserved && HoldsAttributeImage(fileId, image)) {
        // Unchanged (as when only a data object's value moved): kept, so that other processes
        // still see the object under the same attribute file.
        return;
    }
    if (!reserved && image.Size() > ZrSCard::kFileChunk) {
        // More than one write command: a filed object's file is replaced, never written over.
        const long fresh = ReplaceFiledFileInt(fileId, 0, image);
        if (fresh != 0) {
            movedAttributeFiles_[fileId] = fresh;
            attributeRecords_.erase(fileId);
            KeepAttributeRecords(fresh, image);
            return;
        }
    }
    // Written in place: zeros cover whatever an older, longer content left behind (the new
    // header and content go in the first write command). The file of a reserved ID is normally
    // missing: created, with no older content to measure.
    const bool created = reserved && CreateNewFileD(fileId);
    const uint32_t oldSize = created ? 0 : GetFileSizeD(fileId);
    if (oldSize > kMaxDeviceOutput) {
        throw zrck::Exception(CKR_DEVICE_ERROR);
    }
    if (oldSize > image.Size()) {
        const uint32_t newSize = image.Size();
        const tru::TResult rc = image.Realloc(oldSize);
        if (rc != tru::SUCCESS) {
            throw tru::Exception(rc);
        }
        std::memset(image.Data() + newSize, 0, oldSize - newSize);
    }
    WriteFileD(fileId, 0, image.Data(), image.Size());
    KeepAttributeRecords(fileId, image);
    indexCache_.SetChanged();
}

unsigned TokenStorage::ReadAttributeFile(long fileId, std::vector<storage::AttributeBuff>& list)
{
    vdk::SafeBuffer file;
    if (!ReadWholeFileD(fileId, file) && !indexCache_.IsReserved(fileId)) {
        throw MissingStoreFile(fileId);
    }
    if (file.Empty()) {
        return 0;
    }
    const uint32_t dataSize =
        StoreFile::CheckedDataSize(file, StoreFile::Kind::Attribute, "ReadAttributeFileD", errorMark_);
    StoreFile::ParseAttributeFile(file, dataSize, list);
    attributeRecords_[fileId] = list;
    return static_cast<unsigned>(list.size());
}

// ---- index files ----

uint32_t TokenStorage::ReadIndex(long indexFile, const char* operation, tru::BufferDynamic& file,
                                 std::vector<storage::IndexFileRecord>& records)
{
    records.clear();
    const auto image = indexImages_.find(indexFile);
    if (image != indexImages_.end()) {
        const tru::TResult rc = file.Set(static_cast<uint32_t>(image->second.size()), image->second.data());
        if (rc != tru::SUCCESS) {
            throw tru::Exception(rc);
        }
    } else {
        ReadFileD(indexFile, file);
        if (globalDepth_ != 0) {
            indexImages_[indexFile].assign(file.Data(), file.Data() + file.Size());
        }
    }
    if (file.Empty()) {
        return 0;
    }
    const uint32_t dataSize = StoreFile::CheckedDataSize(file, StoreFile::Kind::Index, operation, errorMark_);
    records = StoreFile::ParseIndex(file, dataSize);
    return dataSize;
}

void TokenStorage::AddToIndexFile(EVisibility, uint16_t itemType, long objectFile, long attributeFile)
{
    AddToIndexFileByID(IndexOfObjectFile(objectFile), itemType, objectFile, attributeFile);
}

void TokenStorage::AddToIndexFileByID(long indexFile, uint16_t itemType, long objectFile, long attributeFile)
{
    tru::BufferDynamic file;
    std::vector<storage::IndexFileRecord> records;
    const uint32_t dataSize = ReadIndex(indexFile, "AddToIndexFileByID", file, records);
    uint8_t bytes[storage::kIndexRecordSize];
    StoreFile::PutIndexRecord(bytes, {itemType, static_cast<uint16_t>(objectFile), static_cast<uint16_t>(attributeFile)});
    if (file.Empty()) {
        // No index yet (or one left empty): made with its first record in one write.
        CreateNewFileD(indexFile);
        uint8_t image[StoreFile::kHeaderSize + storage::kIndexRecordSize];
        StoreFile::PutHeader(image, storage::kIndexRecordSize);
        std::memcpy(image + StoreFile::kHeaderSize, bytes, sizeof(bytes));
        WriteFileD(indexFile, 0, image, sizeof(image));
        return;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].itemType == ItemFree) {
            WriteFileD(indexFile, StoreFile::kHeaderSize + static_cast<uint32_t>(i) * storage::kIndexRecordSize, bytes,
                       sizeof(bytes));
            return;
        }
    }
    if (dataSize + storage::kIndexRecordSize > 0xFFFF) {
        throw zrck::Exception(CKR_DEVICE_MEMORY);
    }
    // The record first, then the header that makes it visible.
    WriteFileD(indexFile, StoreFile::kHeaderSize + dataSize, bytes, sizeof(bytes));
    uint8_t header[StoreFile::kHeaderSize];
    StoreFile::PutHeader(header, static_cast<uint16_t>(dataSize + storage::kIndexRecordSize));
    WriteFileD(indexFile, 0, header, sizeof(header));
}

bool TokenStorage::DeleteFromIndexFile(long indexFile, const storage::IndexFileRecord& wanted)
{
    if (wanted.objectFile == 0) {
        return false;  // 0 is the object file of every free record
    }
    tru::BufferDynamic file;
    std::vector<storage::IndexFileRecord> records;
    const uint32_t dataSize = ReadIndex(indexFile, "DeleteFromIndexFile", file, records);
    for (size_t i = 0; i < records.size(); ++i) {
        const storage::IndexFileRecord& r = records[i];
        if (r.itemType == ItemFree || r.objectFile != wanted.objectFile || r.attributeFile != wanted.attributeFile ||
            (wanted.itemType != ItemFree && r.itemType != wanted.itemType)) {
            continue;
        }
        const uint32_t shift = static_cast<uint32_t>(i) * storage::kIndexRecordSize;
        if (shift + storage::kIndexRecordSize >= dataSize) {
            uint8_t header[StoreFile::kHeaderSize];
            StoreFile::PutHeader(header, static_cast<uint16_t>(dataSize - storage::kIndexRecordSize));
            WriteFileD(indexFile, 0, header, sizeof(header));
        }
        const uint8_t zeros[storage::kIndexRecordSize] = {};
        WriteFileD(indexFile, StoreFile::kHeaderSize + shift, zeros, sizeof(zeros));
        return true;
    }
    return false;
}

bool TokenStorage::DeleteStorageObject(const storage::IndexFileRecord& record, bool markChanged)
{
    const long objectFile = record.objectFile;
    const long attributeFile = record.attributeFile;
    // IDs reserved by the running call: no other process can have filed anything under them.
    const bool reserved = indexCache_.IsReserved(objectFile);
    indexCache_.DeleteFromReserve(objectFile);
    if (markChanged) {
        FreeBrokenRecordsInt();
    }

    // The record goes first: an interruption after it leaves files that no record names
    // (invisible, their IDs free, overwritten by the next object), never a record that names
    // files already gone. When the record cannot be freed the files stay: the object is whole.
    // Files that no record of the object names belong to nobody, or to another object.
    const bool freed = DeleteFromIndexFile(IndexOfObjectFile(objectFile), record);
    if (freed && markChanged) {
        indexCache_.SetChanged();
    }
    if (!freed && !reserved) {
        return false;
    }
    DeleteObjectFiles(objectFile, attributeFile);
    return true;
}

void TokenStorage::DeleteStorageObject(uint32_t storageId, bool markChanged)
{
    const storage::IndexFileRecord own{ItemFree, static_cast<uint16_t>(storageId & 0xFFFF),
                                       static_cast<uint16_t>(storageId >> 16)};
    DeleteStorageObject(own, markChanged);
}

bool TokenStorage::KnownAttributeRecords(long fileId, std::vector<storage::AttributeBuff>& records) const
{
    const auto found = attributeRecords_.find(fileId);
    if (found == attributeRecords_.end()) {
        return false;
    }
    records = found->second;
    return true;
}

bool TokenStorage::HoldsAttributeImage(long fileId, const tru::Buffer& image) const
{
    const auto found = attributeRecords_.find(fileId);
    if (found == attributeRecords_.end()) {
        return false;
    }
    std::vector<storage::Attribute> records;
    for (const storage::AttributeBuff& record : found->second) {
        records.push_back({record.id, record.value->Data(), static_cast<uint16_t>(record.value->Size())});
    }
    vdk::SafeBuffer known;
    StoreFile::BuildAttributeFile(records.data(), static_cast<unsigned>(records.size()), known);
    return known.Size() == image.Size() && std::memcmp(known.Data(), image.Data(), image.Size()) == 0;
}

void TokenStorage::KeepAttributeRecords(long fileId, const tru::Buffer& image)
{
    std::vector<storage::AttributeBuff> records;
    const uint32_t dataSize = StoreFile::CheckedDataSize(image, StoreFile::Kind::Attribute, "KeepAttributeRecords", errorMark_);
    StoreFile::ParseAttributeFile(image, dataSize, records);
    attributeRecords_[fileId] = std::move(records);
}

void TokenStorage::DeleteObjectFiles(long objectFile, long attributeFile)
{
    attributeRecords_.erase(attributeFile);
    // Both files are tried; the last failure is reported.
    CK_RV failure = CKR_OK;
    for (const long file : {objectFile, attributeFile}) {
        if (file == 0) {
            continue;  // no file: 0 is the revision file, never deleted here
        }
        try {
            DeleteObjectD(file);
        } catch (const zrck::Exception& e) {
            failure = e.GetCode() != CKR_OK ? e.GetCode() : CKR_GENERAL_ERROR;
        }
    }
    if (failure != CKR_OK) {
        throw zrck::Exception(failure);
    }
}

void TokenStorage::NoteBrokenRecord(const storage::IndexFileRecord& record)
{
    vdk::MutexIntf::GuardIfAvailable lock(mutex_.get(), "NoteBrokenRecord");
    for (const auto& known : brokenRecords_) {
        if (known.objectFile == record.objectFile && known.attributeFile == record.attributeFile) {
            return;
        }
    }
    brokenRecords_.push_back(record);
}

void TokenStorage::FreeBrokenRecordsInt()
{
    std::vector<storage::IndexFileRecord> broken;
    broken.swap(brokenRecords_);
    try {
        for (const auto& r : broken) {
            const long indexFile = IndexOfObjectFile(r.objectFile);
            tru::BufferDynamic file;
            std::vector<storage::IndexFileRecord> records;
            ReadIndex(indexFile, "FreeBrokenRecords", file, records);
            const bool listed = std::any_of(records.begin(), records.end(), [&](const storage::IndexFileRecord& x) {
                return x.itemType == r.itemType && x.objectFile == r.objectFile && x.attributeFile == r.attributeFile;
            });
            if (!listed) {
                continue;
            }
            // Another process may have repaired it since the listing.
            uint32_t size = 0;
            const uint32_t rc = Run(
                [&] { return device_->GetExistingFileSize(session_, static_cast<uint8_t>(r.attributeFile), &size); },
                OnInvalidSession::NewSession);
            if (rc != devrc::kFileNotFound) {
                CheckDeviceError(rc);
                continue;
            }
            if (!DeleteFromIndexFile(indexFile, r)) {
                continue;
            }
            indexCache_.SetChanged();
            DeleteObjectD(r.objectFile);
        }
    } catch (const zrck::Exception&) {
    }
}

unsigned TokenStorage::ListObjectsM(EVisibility visibility, uint16_t itemFilter,
                                    std::vector<storage::IndexFileRecord>& list)
{
    BusyGuard guard(*this, "ListObjectsM");
    OpenDevSessionInt();
    return GetObjectsListInt(RangeOf(visibility).index, itemFilter, list);
}

unsigned TokenStorage::GetObjectsListInt(long indexFile, uint16_t itemFilter,
                                         std::vector<storage::IndexFileRecord>& list)
{
    tru::BufferDynamic file;
    std::vector<storage::IndexFileRecord> records;
    ReadIndex(indexFile, "GetObjectsListInt", file, records);
    unsigned appended = 0;
    for (const auto& r : records) {
        if (r.itemType != ItemFree && (itemFilter == 0 || r.itemType == itemFilter)) {
            list.push_back(r);
            ++appended;
        }
    }
    return appended;
}

// ---- free IDs and reservations ----

void TokenStorage::MarkUsedIds(long indexFile, const char* operation, bool (&used)[256])
{
    tru::BufferDynamic file;
    std::vector<storage::IndexFileRecord> records;
    ReadIndex(indexFile, operation, file, records);
    for (const auto& r : records) {
        if (r.itemType == ItemFree) {
            continue;
        }
        // IDs above 255 cannot name a device file: ignored.
        if (r.objectFile < 256) {
            used[r.objectFile] = true;
        }
        if (r.attributeFile < 256) {
            used[r.attributeFile] = true;
        }
    }
    indexCache_.MarkReservedIds(used);
}

long TokenStorage::GetFreeFileID(EVisibility visibility)
{
    const IdRange range = RangeOf(visibility);
    bool used[256] = {};
    MarkUsedIds(range.index, "GetFreeFileID", used);
    long id = 0;
    if (!idPicker_.Pick(used, range.first, range.last, &id, 1)) {
        throw zrck::Exception(CKR_DEVICE_MEMORY);
    }
    return id;
}

void TokenStorage::GetFreeFileAttrID(EVisibility visibility, long& objectFile, long& attributeFile)
{
    objectFile = 0;
    attributeFile = 0;
    if (visibility != PublicObject && visibility != PrivateObject) {
        throw zrck::Exception(CKR_GENERAL_ERROR);
    }
    const IdRange range = RangeOf(visibility);
    bool used[256] = {};
    MarkUsedIds(range.index, "GetFreeFileAttrID", used);
    long ids[2] = {};
    if (!idPicker_.Pick(used, range.first, range.last, ids, 2)) {
        throw zrck::Exception(CKR_DEVICE_MEMORY);
    }
    objectFile = ids[0];
    attributeFile = ids[1];
}

void TokenStorage::ReserveNewObject(uint16_t itemType, EVisibility visibility, long& objectFile, long& attributeFile)
{
    FreeBrokenRecordsInt();
    GetFreeFileAttrID(visibility, objectFile, attributeFile);
    indexCache_.AddToReserve(visibility, itemType, objectFile, attributeFile);
}

void TokenStorage::ReserveNewKey(uint16_t itemType, long& keySlot, long& attributeFile)
{
    FreeBrokenRecordsInt();
    keySlot = GetFreeFileID(KeyPairObject);
    attributeFile = GetFreeFileID(PrivateObject);
    indexCache_.AddToReserve(PrivateObject, itemType, keySlot, attributeFile);
}

// ---- keys in device key slots ----

void TokenStorage::LoadKeyM(EParamSet paramSet, EPersistence persistence, const tru::Buffer& blob, long& keySlot,
                            long& attributeFile, uint16_t itemType)
{
    keySlot = 0;
    attributeFile = 0;
    BusyGuard guard(*this, "LoadKeyM");
    OpenDevSessionInt();
    if (!present_) {
        throw zrck::Exception(CKR_DEVICE_REMOVED);
    }
    if (itemType == 0) {
        switch (paramSet) {
        case RSA_sign_512:
        case RSA_sign_1024:
        case RSA_sign_1536:
        case RSA_sign_2048:
            itemType = RSA_PRIVATE_KEY;
            break;
        case DSTU4145_POLYNOMIAL_0:
        case DSTU4145_POLYNOMIAL_4:
        case DSTU4145_POLYNOMIAL_6:
        case DSTU4145_POLYNOMIAL_9:
            itemType = UA_SGN_PRIVATE_KEY;
            break;
        default:
            throw zrck::Exception(CKR_FUNCTION_NOT_SUPPORTED);
        }
    }
    long slot = 0;
    long attr = 0;
    ReserveNewKey(itemType, slot, attr);
    try {
        CreateFileD(attr, TokenObject);
        const uint8_t slotByte = static_cast<uint8_t>(slot);
        const uint32_t rc = Run(
            [&] { return device_->LoadKey(session_, paramSet, persistence, blob.Data(), blob.Size(), slotByte); },
            OnInvalidSession::Check);
        if (rc == kInvalidSession) {
            throw zrck::Exception(CKR_USER_NOT_LOGGED_IN);
        }
        CheckDeviceError(rc);
    } catch (...) {
        // Nothing of a failed load stays behind: neither the reservation nor the file.
        indexCache_.DeleteFromReserve(slot);
        try {
            DeleteObjectD(attr);
        } catch (...) {
        }
        throw;
    }
    keySlot = slot;
    attributeFile = attr;
}

void TokenStorage::GenerateKeyPairM(EParamSet paramSet, EPersistence privatePersistence,
                                    EPersistence publicPersistence, tru::BufferDynamic& publicKey, long& keySlot,
                                    long& publicObjectFile, long& privateAttributeFile, long& publicAttributeFile,
                                    EVisibility publicVisibility)
{
    keySlot = 0;
    publicObjectFile = 0;
    privateAttributeFile = 0;
    publicAttributeFile = 0;
    const bool keepPublic = publicPersistence == TokenObject;
    BusyGuard guard(*this, "GenerateKeyPairM");
    OpenDevSessionInt();

    PairTypes types{};
    switch (paramSet) {
    case RSA_sign_1024:
    case RSA_sign_1536:
    case RSA_sign_2048:
    case RSA_sign_512:
        types = {RSA_PRIVATE_KEY, RSA_PUBLIC_KEY};
        break;
    case DSA_ECP_SECP192R1:
    case DSA_ECP_SECP256R1:
    case DSA_ECP_SECP521R1:
        if (!IsEcDsaSupportedM()) {
            throw zrck::Exception(CKR_FUNCTION_NOT_SUPPORTED);
        }
        types = {EC_DSA_PRIVATE_KEY, EC_DSA_PUBLIC_KEY};
        break;
    case DSTU4145_POLYNOMIAL_0:
    case DSTU4145_POLYNOMIAL_4:
    case DSTU4145_POLYNOMIAL_6:
    case DSTU4145_POLYNOMIAL_9:
        types = {UA_SGN_PRIVATE_KEY, UA_SGN_PUBLIC_KEY};
        break;
    default:
        throw zrck::Exception(CKR_FUNCTION_NOT_SUPPORTED);
    }
    if (keepPublic && publicVisibility != PublicObject && publicVisibility != PrivateObject) {
        throw zrck::Exception(CKR_GENERAL_ERROR);
    }

    long slot = 0, privAttr = 0, pubObj = 0, pubAttr = 0;
    try {
        ReserveNewKey(types.privateType, slot, privAttr);
        if (keepPublic) {
            ReserveNewObject(types.publicType, publicVisibility, pubObj, pubAttr);
        }
        // The files are created by their first write: the IDs are reserved.
        const tru::TResult alloc = publicKey.Alloc(512);
        if (alloc != tru::SUCCESS) {
            throw tru::Exception(alloc);
        }
        size_t length = publicKey.Size();
        const uint8_t slotByte = static_cast<uint8_t>(slot);
        CheckDeviceError(Run(
            [&] {
                length = publicKey.Size();
                return device_->GenerateKeyPair(session_, paramSet, privatePersistence, publicKey.Data(), &length,
                                                slotByte);
            },
            OnInvalidSession::NewSession));
        if (length > publicKey.Size()) {
            throw zrck::Exception(CKR_DEVICE_ERROR);
        }
        if (length != publicKey.Size()) {
            const tru::TResult rc = publicKey.Realloc(static_cast<uint32_t>(length));
            if (rc != tru::SUCCESS) {
                throw tru::Exception(rc);
            }
        }
    } catch (...) {
        if (pubObj != 0) {
            try {
                DeleteStorageObject(static_cast<uint32_t>(pubAttr) << 16 | static_cast<uint32_t>(pubObj), false);
            } catch (...) {
            }
        }
        if (slot != 0) {
            try {
                DeleteStorageObject(static_cast<uint32_t>(privAttr) << 16 | static_cast<uint32_t>(slot), false);
            } catch (...) {
            }
        }
        throw;
    }
    keySlot = slot;
    privateAttributeFile = privAttr;
    publicObjectFile = pubObj;
    publicAttributeFile = pubAttr;
}

void TokenStorage::GenerateKeyPairM(EParamSet paramSet, EPersistence persistence, tru::BufferDynamic& publicKey,
                                    long& keySlot, long& attributeFile)
{
    long publicObjectFile = 0;
    long publicAttributeFile = 0;
    GenerateKeyPairM(paramSet, persistence, NotKeptObject, publicKey, keySlot, publicObjectFile, attributeFile,
                     publicAttributeFile);
}

}  // namespace qel
