#include "national/tok_ua_gost_hash_mechanism.h"

#include <cstring>
#include <string>

#include "asn1/asn1_codec.h"
#include "ckbase/exception.h"
#include "national/gost_errors.h"
#include "national/gost_key_schedule.h"
#include "national/ua_gost_utl.h"
#include "zrasn1/Gost34311Params.h"

namespace qel {

namespace {

void Assign(tru::BufferDynamic& target, const void* data, uint32_t size)
{
    const tru::TResult rc = target.Set(size, data);
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

}  // namespace

TokUAGostHashMechanism::TokUAGostHashMechanism()
{
    SetMechanismType(CKM_GOST34311);
    SetFlags(CKF_DIGEST);
}

zrck::TokMechanism* TokUAGostHashMechanism::Clone() const
{
    auto* clone = new TokUAGostHashMechanism();
    clone->AssignAttributes(*this);
    return clone;
}

void TokUAGostHashMechanism::FreeResources()
{
    table_.reset();
    WipeRecord(ctx_);
}

void TokUAGostHashMechanism::SetSBlock(const tru::Buffer& sBlock)
{
    const uint8_t* bytes = sBlock.Data();
    if (sBlock.Size() == 66 && bytes[0] == 0x04 && bytes[1] == 0x40) {
        Assign(sBlock_, bytes + 2, 64);
    } else {
        Assign(sBlock_, sBlock.Data(), sBlock.Size());
    }
}

void TokUAGostHashMechanism::SetStartVector(const tru::Buffer& startVector)
{
    Assign(startVector_, startVector.Data(), startVector.Size());
}

void TokUAGostHashMechanism::SetDefaultParameter()
{
    SetStartVector(UAGostUtl::GetInstance()->GetDefaultIV());
    SetSBlock(UAGostUtl::GetInstance()->GetDKE(1));
}

void TokUAGostHashMechanism::SetParameter(const zrck::MechanismParameter& parameter)
{
    const tru::Buffer& bytes = parameter.GetParameter();
    if (bytes.Data() == nullptr) {
        SetDefaultParameter();
        return;
    }
    const auto decoded = asn1::Decode<Gost34311Params_t>(asn_DEF_Gost34311Params, bytes.Data(), bytes.Size());
    if (!decoded) throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
    const Dke_t* dke = nullptr;
    const OCTET_STRING_t* iv = nullptr;
    switch (decoded->present) {
        case Gost34311Params_PR_dke: dke = &decoded->choice.dke; break;
        case Gost34311Params_PR_params:
            dke = &decoded->choice.params.dke;
            iv = decoded->choice.params.iv;
            break;
        default: throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
    }
    switch (dke->present) {
        case Dke_PR_dkeValue: Assign(sBlock_, dke->choice.dkeValue.buf, dke->choice.dkeValue.size); break;
        case Dke_PR_dkeId: {
            std::string oid;
            if (!asn1::OidToText(dke->choice.dkeId, oid)) throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
            const tru::Buffer& table = UAGostUtl::GetInstance()->GetDKEForOID(oid);
            if (table.Empty()) throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
            SetSBlock(table);
            break;
        }
        default: throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
    }
    if (iv != nullptr) {
        Assign(startVector_, iv->buf, iv->size);
    } else {
        SetStartVector(UAGostUtl::GetInstance()->GetDefaultIV());
    }
}

void TokUAGostHashMechanism::DigestInit(zrck::MechanismSession&, const zrck::MechanismParameter& parameter)
{
    // Freed first, so that a refused parameter leaves no earlier operation running.
    FreeResources();
    SetParameter(parameter);
    table_ = WithFrameworkErrors([&] { return UAGostUtl::GetInstance()->GetKExt(startVector_, sBlock_); });
    // The start vector is read as eight words in memory order.
    uint32_t startWords[8];
    std::memcpy(startWords, startVector_.Data(), sizeof startWords);
    gr341194_md_init_ext(&ctx_, startWords, table_->Words());
}

void TokUAGostHashMechanism::RequireActive() const
{
    if (table_ == nullptr) throw zrck::Exception(CKR_GENERAL_ERROR);
}

void TokUAGostHashMechanism::DigestUpdate(zrck::MechanismSession&, const tru::Buffer& data)
{
    RequireActive();
    if (!data.Empty()) gr341194_md_update(&ctx_, data.Data(), data.Size());
}

bool TokUAGostHashMechanism::Finish(unsigned char* out, unsigned long* outLen, const tru::Buffer* data)
{
    RequireActive();
    const bool shortBuffer = out != nullptr && *outLen < kDigestLength;
    *outLen = kDigestLength;
    if (out == nullptr) return true;
    if (shortBuffer) return false;
    if (data != nullptr && !data->Empty()) gr341194_md_update(&ctx_, data->Data(), data->Size());
    gr341194_md_final(&ctx_, out);
    FreeResources();
    return true;
}

bool TokUAGostHashMechanism::Digest(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                    unsigned long* outLen)
{
    return Finish(out, outLen, &data);
}

bool TokUAGostHashMechanism::DigestFinal(zrck::MechanismSession&, unsigned char* out, unsigned long* outLen)
{
    return Finish(out, outLen, nullptr);
}

}  // namespace qel
