#include "swcrypto/sha_hashers.h"

#include <cstddef>
#include <cstring>

#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/sha512.h>

#include "ckbase/exception.h"

namespace mbt {

namespace {

void Check(int result, CK_RV failure)
{
    if (result != 0) throw zrck::Exception(failure);
}

// Size of the digest state behind the md context: the platform's SHA context structure.
uint32_t StateSize(const mbedtls_md_info_t* info)
{
    switch (mbedtls_md_get_type(info)) {
        case MBEDTLS_MD_SHA1: return sizeof(mbedtls_sha1_context);
        case MBEDTLS_MD_SHA224:
        case MBEDTLS_MD_SHA256: return sizeof(mbedtls_sha256_context);
        case MBEDTLS_MD_SHA384:
        case MBEDTLS_MD_SHA512: return sizeof(mbedtls_sha512_context);
        default: return 0;
    }
}

}  // namespace

MdHasher::MdHasher(std::string name, const char* accepted1, const char* accepted2, bool hmac)
    : name_(std::move(name)), accepted1_(accepted1), accepted2_(accepted2), hmac_(hmac)
{
    mbedtls_md_init(&context_);
}

MdHasher::~MdHasher() { Reset(); }

bool MdHasher::IsAccepted() const { return name_ == accepted1_ || name_ == accepted2_; }

uint32_t MdHasher::GetResultSize() const
{
    if (!IsAccepted()) return 0;
    const mbedtls_md_info_t* info = info_ != nullptr ? info_ : mbedtls_md_info_from_string(name_.c_str());
    return info == nullptr ? 0 : mbedtls_md_get_size(info);
}

void MdHasher::SetUp()
{
    if (!IsAccepted()) throw zrck::Exception(CKR_MECHANISM_INVALID);
    if (started_) return;
    mbedtls_md_init(&context_);
    if (info_ == nullptr) info_ = mbedtls_md_info_from_string(name_.c_str());
    if (info_ == nullptr) throw zrck::Exception(CKR_MECHANISM_INVALID);
    if (mbedtls_md_setup(&context_, info_, hmac_ ? 1 : 0) != 0) {
        mbedtls_md_free(&context_);
        throw zrck::Exception(CKR_MECHANISM_INVALID);
    }
    started_ = true;
}

void MdHasher::RequireStarted() const
{
    if (!started_) throw zrck::Exception(CKR_GENERAL_ERROR);
}

void MdHasher::Start()
{
    SetUp();
    Check(mbedtls_md_starts(&context_), CKR_FUNCTION_FAILED);
}

void MdHasher::Update(const tru::Buffer& data)
{
    RequireStarted();
    if (data.Empty()) return;
    Check(mbedtls_md_update(&context_, data.Data(), data.Size()), CKR_FUNCTION_FAILED);
}

void MdHasher::Finish(unsigned char* out)
{
    RequireStarted();
    // Through a full-size block: the state decides how many bytes mbed TLS writes.
    unsigned char digest[MBEDTLS_MD_MAX_SIZE];
    Check(mbedtls_md_finish(&context_, digest), CKR_FUNCTION_FAILED);
    std::memcpy(out, digest, GetResultSize());
    mbedtls_platform_zeroize(digest, sizeof digest);
}

void MdHasher::Finish(tru::Buffer& out)
{
    const uint32_t size = GetResultSize();
    if (size == 0 || out.Size() != size) throw zrck::Exception(CKR_GENERAL_ERROR);
    Finish(out.Data());
}

tru::Buffer MdHasher::GetContext()
{
    RequireStarted();
    return tru::Buffer(context_.md_ctx, StateSize(info_));
}

void MdHasher::RestoreContext(const tru::Buffer& state)
{
    tru::Buffer target = GetContext();
    if (state.Size() != target.Size()) throw zrck::Exception(CKR_SAVED_STATE_INVALID);
    // The truncated variants share their context layout with the full ones; the flag inside
    // decides the digest length and must match this calculator.
    int truncated = 0;
    bool flagged = false;
    switch (mbedtls_md_get_type(info_)) {
        case MBEDTLS_MD_SHA224:
        case MBEDTLS_MD_SHA256:
            flagged = true;
            std::memcpy(&truncated, state.Data() + offsetof(mbedtls_sha256_context, is224), sizeof truncated);
            break;
        case MBEDTLS_MD_SHA384:
        case MBEDTLS_MD_SHA512:
            flagged = true;
            std::memcpy(&truncated, state.Data() + offsetof(mbedtls_sha512_context, is384), sizeof truncated);
            break;
        default: break;
    }
    const bool wantTruncated = name_ == "SHA224" || name_ == "SHA384";
    if (flagged && (truncated != 0) != wantTruncated) throw zrck::Exception(CKR_SAVED_STATE_INVALID);
    std::memcpy(target.Data(), state.Data(), target.Size());
}

void MdHasher::Reset()
{
    if (started_) {
        mbedtls_md_free(&context_);
        started_ = false;
    }
    mbedtls_md_init(&context_);
}

void TokSha1HMacCalc::Start() { throw zrck::Exception(CKR_GENERAL_ERROR); }

void TokSha1HMacCalc::Start(const tru::Buffer& key)
{
    SetUp();
    Check(mbedtls_md_hmac_starts(&Context(), key.Data(), key.Size()), CKR_MECHANISM_INVALID);
}

void TokSha1HMacCalc::Update(const tru::Buffer& data)
{
    RequireStarted();
    if (data.Empty()) return;
    Check(mbedtls_md_hmac_update(&Context(), data.Data(), data.Size()), CKR_FUNCTION_FAILED);
}

void TokSha1HMacCalc::Finish(unsigned char* out)
{
    RequireStarted();
    Check(mbedtls_md_hmac_finish(&Context(), out), CKR_FUNCTION_FAILED);
}

void TokSha1HMacCalc::Finish(tru::Buffer& out)
{
    if (out.Size() != SHA1_HMAC_BYTES_LENGTH) throw zrck::Exception(CKR_GENERAL_ERROR);
    Finish(out.Data());
}

namespace {

AHasher* MakeSha1() { return new TokSha1Hasher(); }
AHasher* MakeSha224() { return new TokSha256Hasher("SHA224"); }
AHasher* MakeSha256() { return new TokSha256Hasher("SHA256"); }
AHasher* MakeSha384() { return new TokSha512Hasher("SHA384"); }
AHasher* MakeSha512() { return new TokSha512Hasher("SHA512"); }

}  // namespace

const ShaHasherKind kSha1HasherKind{TokSha1Hasher::SHA1_DIGEST_BYTES_LENGTH, &MakeSha1};
const ShaHasherKind kSha224HasherKind{TokSha256Hasher::SHA224_DIGEST_BYTES_LENGTH, &MakeSha224};
const ShaHasherKind kSha256HasherKind{TokSha256Hasher::SHA256_DIGEST_BYTES_LENGTH, &MakeSha256};
const ShaHasherKind kSha384HasherKind{TokSha512Hasher::SHA384_DIGEST_BYTES_LENGTH, &MakeSha384};
const ShaHasherKind kSha512HasherKind{TokSha512Hasher::SHA512_DIGEST_BYTES_LENGTH, &MakeSha512};

void OperationHasher::Begin()
{
    if (!hasher_) hasher_.reset(kind_.make());
    hasher_->Start();
}

AHasher& OperationHasher::Started() const
{
    if (!hasher_) throw zrck::Exception(CKR_GENERAL_ERROR);
    return *hasher_;
}

void OperationHasher::Update(const tru::Buffer& data) { Started().Update(data); }

void OperationHasher::Finish(const tru::Buffer* last, tru::BufferDynamic& digest)
{
    AHasher& hasher = Started();
    if (last != nullptr) hasher.Update(*last);
    if (digest.Alloc(kind_.digestLength) != tru::SUCCESS) throw zrck::Exception(CKR_HOST_MEMORY);
    hasher.Finish(digest);
}

void OperationHasher::Reset()
{
    if (hasher_) hasher_->Reset();
}

}  // namespace mbt
