#include "national/ua_gost_utl.h"

#include "asn1/asn1_codec.h"
#include "national/ck_error.h"
#include "tru2/exception.h"
#include "zrasn1/Dke.h"

#include <cstring>

namespace qel {

UAGostUtl* UAGostUtl::s_instance = nullptr;
std::mutex UAGostUtl::instanceMutex_;

namespace {

const char* const kDkeSizeMessage = "DKE size should be 64 bytes";
const char* const kIvSizeMessage = "IV size should be 32 bytes";

void CheckDkeSize(const tru::Buffer& dke)
{
    if (dke.Size() != kDkeSize) ThrowCkError(CKR_MECHANISM_PARAM_INVALID, kDkeSizeMessage);
}

void CheckStartVectorSize(const tru::Buffer& startVector)
{
    if (startVector.Size() != kHashStartVectorSize) ThrowCkError(CKR_MECHANISM_PARAM_INVALID, kIvSizeMessage);
}

// Gives out exactly `size` bytes, zeroed; tru::Exception with the allocation's code on failure.
void SizeOutput(tru::BufferDynamic& out, uint32_t size)
{
    if (out.Size() != size) {
        const tru::TResult rc = out.Alloc(size);
        if (rc != tru::SUCCESS) throw tru::Exception(rc);
    }
    std::memset(out.Data(), 0, size);
}

void SetOutput(tru::Buffer& out, uint32_t size, const void* data)
{
    const tru::TResult rc = out.Set(size, data);
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

} // namespace

UAGostUtl::UAGostUtl() : defaultIV_(glbDefaultIV, kHashStartVectorSize)
{
    for (size_t i = 0; i < kDkeCount; ++i) {
        dke_[i] = tru::Buffer(glbDkeTables[i].der, uint32_t(kDkeDerSize));
        dkeOid_[i] = tru::Buffer(glbDkeTables[i].oidDer, uint32_t(kDkeOidDerSize));
    }
}

UAGostUtl* UAGostUtl::GetInstance()
{
    std::lock_guard<std::mutex> lock(instanceMutex_);
    if (s_instance == nullptr) s_instance = new UAGostUtl();
    return s_instance;
}

void UAGostUtl::DestroyInstance()
{
    std::lock_guard<std::mutex> lock(instanceMutex_);
    delete s_instance;
    s_instance = nullptr;
}

bool UAGostUtl::IsEcbDataSizeAcceptable(uint32_t size) const { return size != 0 && size % ecbBlockSize_ == 0; }

const tru::Buffer& UAGostUtl::GetDKEForOID(const std::string& oid) const
{
    for (size_t i = 0; i < kDkeCount; ++i)
        if (oid == glbDkeTables[i].oid) return dke_[i];
    return empty_;
}

void UAGostUtl::PrepareSBlock(const tru::Buffer& dke, tru::BufferDynamic& out) const
{
    // Reading 64 bytes from a shorter view would run past it.
    if (dke.Size() < kDkeSize) ThrowCkError(CKR_MECHANISM_PARAM_INVALID, kDkeSizeMessage);
    SizeOutput(out, kSBlockSize);
    DkeToSBlock(dke.Data(), out.Data());
}

std::shared_ptr<const KExtTable> UAGostUtl::GetKExt(const tru::Buffer& dke) const
{
    CheckDkeSize(dke);
    return KExtCache::Instance().Get(dke.Data());
}

std::shared_ptr<const KExtTable> UAGostUtl::GetKExt(const tru::Buffer& startVector, const tru::Buffer& dke) const
{
    CheckStartVectorSize(startVector);
    return GetKExt(dke);
}

void UAGostUtl::PrepareKExt(const tru::Buffer& dke, tru::BufferDynamic& out) const
{
    const auto table = GetKExt(dke);
    SizeOutput(out, G28147_KEXT_WORDS * sizeof(uint32_t));
    std::memcpy(out.Data(), table->Words(), G28147_KEXT_WORDS * sizeof(uint32_t));
}

void UAGostUtl::PrepareKExt(const tru::Buffer& startVector, const tru::Buffer& dke, tru::BufferDynamic& out) const
{
    CheckStartVectorSize(startVector);
    PrepareKExt(dke, out);
}

bool UAGostUtl::ExtractSBox(const tru::Buffer& value, tru::Buffer& out, CK_RV errorCode) const
{
    if (value.Empty()) {
        SetOutput(out, uint32_t(kDkeSize), DkeBytes(glbDkeTables[0]));
        return true;
    }
    const auto decoded = asn1::Decode<Dke_t>(asn_DEF_Dke, value.Data(), value.Size());
    if (!decoded) ThrowCkError(errorCode);
    if (decoded->present == Dke_PR_dkeValue) {
        // Any length is taken here; PrepareKExt refuses a DKE that is not 64 bytes.
        const OCTET_STRING_t& bytes = decoded->choice.dkeValue;
        SetOutput(out, uint32_t(bytes.size), bytes.buf);
        return true;
    }
    if (decoded->present != Dke_PR_dkeId) ThrowCkError(errorCode);
    std::string oid;
    if (!asn1::OidToText(decoded->choice.dkeId, oid)) return false;
    const tru::Buffer& table = GetDKEForOID(oid);
    if (table.Empty()) return false;
    SetOutput(out, uint32_t(kDkeSize), table.Data() + 2);
    return true;
}

} // namespace qel
