// Device-level file commands and the on-token cryptography.
#include <cstring>
#include <vector>

#include "ckbase/exception.h"
#include "driver/token_storage_internal.h"

namespace qel {

using namespace detail;

namespace {

uint8_t FileByte(long fileId)
{
    if (fileId < 0 || fileId > 0xFF) {
        throw zrck::Exception(CKR_GENERAL_ERROR);
    }
    return static_cast<uint8_t>(fileId);
}

bool IsKeySlot(long fileId)
{
    return fileId >= fileid::kKeySlotFirst && fileId <= fileid::kKeySlotLast;
}

void Allocate(tru::BufferDynamic& out, uint32_t size)
{
    const tru::TResult rc = out.Alloc(size);
    if (rc != tru::SUCCESS) {
        throw tru::Exception(rc);
    }
}

void Shrink(tru::BufferDynamic& out, size_t size)
{
    if (size > out.Size()) {
        throw zrck::Exception(CKR_DEVICE_ERROR);
    }
    if (size != out.Size()) {
        const tru::TResult rc = out.Realloc(static_cast<uint32_t>(size));
        if (rc != tru::SUCCESS) {
            throw tru::Exception(rc);
        }
    }
}

}  // namespace

// ---- files ----

uint32_t TokenStorage::ReadFileD(long fileId, tru::BufferDynamic& contents)
{
    ReadWholeFileD(fileId, contents);
    return contents.Size();
}

bool TokenStorage::ReadWholeFileD(long fileId, tru::BufferDynamic& contents)
{
    const uint8_t id = FileByte(fileId);
    // The size, then exactly that many bytes. A file that shrank in between (another process)
    // is measured again, once; any failure leaves nothing half-read behind.
    for (unsigned attempt = 0;; ++attempt) {
        uint32_t size = 0;
        uint32_t rc =
            Run([&] { return device_->GetExistingFileSize(session_, id, &size); }, OnInvalidSession::NewSession);
        if (rc == devrc::kFileNotFound) {
            Allocate(contents, 0);
            return false;
        }
        CheckDeviceError(rc);
        if (size > kMaxDeviceOutput) {
            throw zrck::Exception(CKR_DEVICE_ERROR);
        }
        Allocate(contents, size);
        if (size == 0) {
            return true;
        }
        rc = Run([&] { return device_->ReadFileAt(session_, id, 0, contents.Data(), size); },
                 OnInvalidSession::NewSession);
        if (rc == 0) {
            return true;
        }
        Allocate(contents, 0);
        if (rc == devrc::kFileNotFound) {
            return false;
        }
        if (rc != devrc::kInvalidOffset || attempt != 0) {
            CheckDeviceError(rc);
        }
    }
}

void TokenStorage::WriteFileD(long fileId, uint32_t offset, const uint8_t* data, uint32_t length)
{
    const uint8_t id = FileByte(fileId);
    auto write = [&] { return device_->WriteFile(session_, id, offset, data, length); };
    uint32_t rc = Run(write, OnInvalidSession::NewSession);
    if (rc == devrc::kFileNotFound) {
        CreateFileD(fileId, TokenObject);
        rc = Run(write, OnInvalidSession::NewSession);
    }
    const auto image = indexImages_.find(fileId);
    if (image == indexImages_.end()) {
        CheckDeviceError(rc);
        return;
    }
    if (rc != 0) {
        indexImages_.erase(image);
        CheckDeviceError(rc);
    }
    std::vector<uint8_t>& bytes = image->second;
    if (bytes.size() < offset + length) {
        bytes.resize(offset + length);
    }
    std::memcpy(bytes.data() + offset, data, length);
}

void TokenStorage::CreateFileD(long fileId, EPersistence persistence)
{
    const uint8_t id = FileByte(fileId);
    const uint32_t rc =
        Run([&] { return device_->CreateFile(session_, id, persistence); }, OnInvalidSession::NewSession);
    if (rc != devrc::kFileExists) {
        CheckDeviceError(rc);
    }
}

bool TokenStorage::CreateNewFileD(long fileId)
{
    const uint8_t id = FileByte(fileId);
    const uint32_t rc =
        Run([&] { return device_->CreateFile(session_, id, TokenObject); }, OnInvalidSession::NewSession);
    if (rc == devrc::kFileExists) {
        return false;
    }
    CheckDeviceError(rc);
    return true;
}

void TokenStorage::DeleteObjectD(long fileId)
{
    const uint8_t id = FileByte(fileId);
    const uint32_t rc = Run([&] { return device_->DeleteFile(session_, id); }, OnInvalidSession::Check);
    if (rc != devrc::kFileNotFound) {
        CheckDeviceError(rc);
    }
    idPicker_.NoteFreed(fileId);
}

uint32_t TokenStorage::GetFileSizeD(long fileId)
{
    const uint8_t id = FileByte(fileId);
    uint32_t size = 0;
    CheckDeviceError(Run([&] { return device_->GetFileSize(session_, id, &size); }, OnInvalidSession::NewSession));
    return size;
}

bool TokenStorage::IsFileExistsD(long fileId)
{
    const uint8_t id = FileByte(fileId);
    bool exists = false;
    CheckDeviceError(Run([&] { return device_->IsFileExists(session_, id, &exists); }, OnInvalidSession::NewSession));
    return exists;
}

uint32_t TokenStorage::GetFileSizeM(long fileId)
{
    BusyGuard guard(*this, "GetFileSizeM");
    OpenDevSessionInt();
    if (IsKeySlot(fileId)) {
        return 0;
    }
    return GetFileSizeD(fileId);
}

bool TokenStorage::IsFileExistsM(long fileId)
{
    BusyGuard guard(*this, "IsFileExistsM");
    OpenDevSessionInt();
    if (IsKeySlot(fileId)) {
        return true;
    }
    return IsFileExistsD(fileId);
}

long TokenStorage::GetIndexFileIDFor(long fileId)
{
    return fileId >= 1 && fileId <= fileid::kPublicIndex ? fileid::kPublicIndex : fileid::kPrivateIndex;
}

void TokenStorage::AllocateFileHeader(long fileId, uint32_t size)
{
    if (size < 4 || size > kMaxDeviceOutput) {
        throw zrck::Exception(CKR_ARGUMENTS_BAD);
    }
    std::vector<uint8_t> image(size, 0);
    image[0] = 2;  // version 2, data size 0
    WriteFileD(fileId, 0, image.data(), size);
}

void TokenStorage::WriteFileHeader(long fileId, tru::Buffer& header)
{
    const uint8_t bytes[4] = {2, 0, 0, 0};
    WriteFileD(fileId, 0, bytes, sizeof(bytes));
    header.Set(sizeof(bytes), bytes);
}

// ---- on-token cryptography ----

void TokenStorage::CryptoWithResize(uint32_t firstSize, tru::BufferDynamic& out,
                                    const std::function<uint32_t(uint8_t*, size_t*)>& command, unsigned maxResizes)
{
    Allocate(out, firstSize);
    size_t length = out.Size();
    uint32_t rc = Run([&] { return command(out.Data(), &length); }, OnInvalidSession::Check);
    for (unsigned resizes = 0; (rc == devrc::kSize || rc == devrc::kMoreData) && resizes < maxResizes; ++resizes) {
        // An answer shorter than the length it announced is damaged, not a short buffer: the
        // token has already acted on the command, so it is never sent again.
        if (rc == devrc::kSize && length <= out.Size()) {
            throw zrck::Exception(CKR_DEVICE_ERROR);
        }
        if (length > kMaxDeviceOutput) {
            throw zrck::Exception(CKR_DEVICE_ERROR);
        }
        Allocate(out, static_cast<uint32_t>(length));
        rc = Run([&] { return command(out.Data(), &length); }, OnInvalidSession::Check);
    }
    CheckDeviceError(rc);
    Shrink(out, length);
}

void TokenStorage::GenerateSignatureM(long keySlot, const tru::Buffer& data, tru::BufferDynamic& signature)
{
    BusyGuard guard(*this, "GenerateSignatureM");
    OpenDevSessionInt();
    RunCommandCheck();
    const uint8_t slot = FileByte(keySlot);
    CryptoWithResize(256, signature,
                     [&](uint8_t* out, size_t* length) {
                         return device_->GetSignature(session_, slot, data.Data(), data.Size(), out, length);
                     },
                     1);
}

bool TokenStorage::VerifySignatureM(const tru::Buffer& publicKey, EParamSet paramSet, const tru::Buffer& data,
                                    const tru::Buffer& signature)
{
    BusyGuard guard(*this, "VerifySignatureM");
    OpenDevSessionInt();
    RunCommandCheck();
    const uint32_t rc = Run(
        [&] {
            return device_->VerifySignature(session_, publicKey.Data(), publicKey.Size(), paramSet, data.Data(),
                                            data.Size(), signature.Data(), signature.Size());
        },
        OnInvalidSession::Check);
    if (rc == devrc::kBadSignature) {
        return false;
    }
    CheckDeviceError(rc);
    return true;
}

void TokenStorage::EncryptM(const tru::Buffer& publicKey, EParamSet paramSet, const tru::Buffer& data,
                            tru::BufferDynamic& result)
{
    BusyGuard guard(*this, "EncryptM");
    OpenDevSessionInt();
    RunCommandCheck();
    CryptoWithResize(data.Size(), result,
                     [&](uint8_t* out, size_t* length) {
                         return device_->Encrypt(session_, publicKey.Data(), publicKey.Size(), paramSet, data.Data(),
                                                 data.Size(), out, length);
                     },
                     1);
}

void TokenStorage::DecryptM(long keySlot, const tru::Buffer& data, tru::BufferDynamic& result)
{
    BusyGuard guard(*this, "DecryptM");
    OpenDevSessionInt();
    RunCommandCheck();
    const uint8_t slot = FileByte(keySlot);
    CryptoWithResize(data.Size(), result,
                     [&](uint8_t* out, size_t* length) {
                         return device_->Decrypt(session_, slot, data.Data(), data.Size(), out, length);
                     },
                     1);
}

void TokenStorage::DeriveCommonKeyM(long keySlot, const tru::Buffer& peerPoint, const tru::Buffer& first,
                                    const tru::Buffer& second, bool cofactor, tru::BufferDynamic& key)
{
    BusyGuard guard(*this, "DeriveCommonKeyM");
    OpenDevSessionInt();
    RunCommandCheck();
    const uint8_t slot = FileByte(keySlot);
    // DER OCTET STRING 04 L point (L below 128) -> the bare point.
    const uint8_t* point = peerPoint.Data();
    size_t pointLength = peerPoint.Size();
    if (pointLength >= 2 && point[0] == 0x04 && point[1] < 0x80 && point[1] == pointLength - 2) {
        point += 2;
        pointLength -= 2;
    }
    const tru::BufferDynamic bare(point, static_cast<uint32_t>(pointLength));
    Allocate(key, 32);
    size_t length = key.Size();
    CheckDeviceError(Run(
        [&] {
            return device_->GetCommonKey(session_, slot, bare.Data(), bare.Size(), cofactor ? 1 : 0, first.Data(),
                                         first.Size(), 1, second.Data(), second.Size(), key.Data(), &length);
        },
        OnInvalidSession::Check));
    Shrink(key, length);
}

}  // namespace qel
