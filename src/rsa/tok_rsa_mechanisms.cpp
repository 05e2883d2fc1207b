#include "rsa/tok_rsa_mechanisms.h"

#include "ckbase/exception.h"
#include "driver/token_storage.h"
#include "objects/tok_rsa_util.h"
#include "rsa/tok_rsa_keys.h"
#include "support/safe_buffer.h"

namespace qel {

namespace {

const CK_FLAGS kPkcsFlags = CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_SIGN_RECOVER | CKF_VERIFY |
                            CKF_VERIFY_RECOVER | CKF_WRAP | CKF_UNWRAP;
const CK_FLAGS kX509Flags = CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_SIGN_RECOVER | CKF_VERIFY |
                            CKF_VERIFY_RECOVER;
const uint32_t kPkcs1Overhead = 11;

// Data a PKCS#1 v1.5 block of k bytes can carry: 1 to k - 11 bytes.
void RequireBlockData(const tru::Buffer& data, uint32_t blockLength)
{
    if (data.Empty() || data.Size() + kPkcs1Overhead > blockLength) throw zrck::Exception(CKR_DATA_LEN_RANGE);
}

template <class Mechanism>
zrck::TokMechanism* CloneOf(const Mechanism& source)
{
    auto* clone = new Mechanism();
    clone->AssignAttributes(source);
    return clone;
}

}  // namespace

// ---- CKM_RSA_PKCS ----

TokRsaPkcs1v15Mechanism::TokRsaPkcs1v15Mechanism()
{
    SetMechanismType(CKM_RSA_PKCS);
    SetFlags(kPkcsFlags);
    RsaKeyBinding::SetStoredKeySizes(*this);
}

bool TokRsaPkcs1v15Mechanism::Encrypt(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                                      unsigned long* outLen)
{
    const zrck::TokRsaPublicKey& key = keys_.Public();
    const CK_ULONG bits = key.GetModulusBits();
    tru::BufferDynamic blob;
    keys_.PublicBlob(blob);
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(bits);
    const uint32_t k = RsaKeyBinding::BlockLength(bits);
    RequireBlockData(data, k);
    bool result = false;
    if (AnswerLengthOnly(k, out, outLen, result)) return result;
    vdk::SafeBuffer block;
    zrck::TokRsaUtl::DoPkcs1Padding(session, zrck::TokRsaUtl::BLOCK_TYPE_ENCRYPTION, data, k, block);
    vdk::SafeBuffer encrypted;
    keys_.PublicStorage().EncryptM(blob, paramSet, block, encrypted);
    return PlaceResult(encrypted, out, outLen);
}

bool TokRsaPkcs1v15Mechanism::Decrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                      unsigned long* outLen)
{
    const uint32_t k = RsaKeyBinding::BlockLength(keys_.Private().GetModulusBits());
    RsaKeyBinding::RequireLength(RsaKeyBinding::Input::Ciphertext, data, k);
    bool result = false;
    if (AnswerLengthOnly(k, out, outLen, result)) return result;
    vdk::SafeBuffer block;
    keys_.PrivateStorage().DecryptM(keys_.KeySlot(), data, block);
    vdk::SafeBuffer plain;
    zrck::TokRsaUtl::DoPkcs1UnPadding(block, k, zrck::TokRsaUtl::BLOCK_TYPE_ENCRYPTION, plain);
    return PlaceResult(plain, out, outLen);
}

bool TokRsaPkcs1v15Mechanism::Sign(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                                   unsigned long* outLen)
{
    const uint32_t k = RsaKeyBinding::BlockLength(keys_.Private().GetModulusBits());
    bool result = false;
    if (AnswerLengthOnly(k, out, outLen, result)) return result;
    vdk::SafeBuffer block;
    zrck::TokRsaUtl::DoPkcs1Padding(session, zrck::TokRsaUtl::BLOCK_TYPE_SIGNATURE, data, k, block);
    tru::BufferDynamic signature;
    keys_.PrivateStorage().GenerateSignatureM(keys_.KeySlot(), block, signature);
    return PlaceResult(signature, out, outLen);
}

bool TokRsaPkcs1v15Mechanism::SignRecover(zrck::MechanismSession& session, const tru::Buffer& data, unsigned char* out,
                                          unsigned long* outLen)
{
    return Sign(session, data, out, outLen);
}

bool TokRsaPkcs1v15Mechanism::Verify(zrck::MechanismSession& session, const tru::Buffer& data,
                                     const tru::Buffer& signature)
{
    const zrck::TokRsaPublicKey& key = keys_.Public();
    const CK_ULONG bits = key.GetModulusBits();
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(bits);
    tru::BufferDynamic blob;
    keys_.PublicBlob(blob);
    RsaKeyBinding::RequireLength(RsaKeyBinding::Input::Signature, signature, static_cast<uint32_t>(bits / 8));
    vdk::SafeBuffer expected;
    zrck::TokRsaUtl::DoPkcs1Padding(session, zrck::TokRsaUtl::BLOCK_TYPE_SIGNATURE, data,
                                    static_cast<uint32_t>(bits / 8), expected);
    return keys_.PublicStorage().VerifySignatureM(blob, paramSet, expected, signature);
}

bool TokRsaPkcs1v15Mechanism::VerifyRecover(zrck::MechanismSession&, const tru::Buffer& signature, unsigned char* out,
                                            unsigned long* outLen)
{
    const zrck::TokRsaPublicKey& key = keys_.Public();
    const CK_ULONG bits = key.GetModulusBits();
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(bits);
    tru::BufferDynamic blob;
    keys_.PublicBlob(blob);
    const uint32_t k = RsaKeyBinding::BlockLength(bits);
    RsaKeyBinding::RequireLength(RsaKeyBinding::Input::Signature, signature, k);
    bool result = false;
    if (AnswerLengthOnly(k, out, outLen, result)) return result;
    vdk::SafeBuffer block;
    keys_.PublicStorage().EncryptM(blob, paramSet, signature, block);
    vdk::SafeBuffer recovered;
    zrck::TokRsaUtl::DoPkcs1UnPadding(block, k, zrck::TokRsaUtl::BLOCK_TYPE_SIGNATURE, recovered);
    return PlaceResult(recovered, out, outLen);
}

zrck::TokMechanism* TokRsaPkcs1v15Mechanism::Clone() const { return CloneOf(*this); }

// ---- CKM_RSA_X_509 ----

TokRsaX509Mechanism::TokRsaX509Mechanism()
{
    SetMechanismType(CKM_RSA_X_509);
    SetFlags(kX509Flags);
    RsaKeyBinding::SetStoredKeySizes(*this);
}

bool TokRsaX509Mechanism::PublicOperation(RsaKeyBinding::Input kind, const tru::Buffer& input, unsigned char* out,
                                          unsigned long* outLen)
{
    const zrck::TokRsaPublicKey& key = keys_.Public();
    const CK_ULONG bits = key.GetModulusBits();
    tru::BufferDynamic blob;
    keys_.PublicBlob(blob);
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(bits);
    const uint32_t k = RsaKeyBinding::BlockLength(bits);
    RsaKeyBinding::RequireLength(kind, input, k);
    bool result = false;
    if (AnswerLengthOnly(k, out, outLen, result)) return result;
    vdk::SafeBuffer output;
    keys_.PublicStorage().EncryptM(blob, paramSet, input, output);
    return PlaceResult(output, out, outLen);
}

bool TokRsaX509Mechanism::PrivateOperation(RsaKeyBinding::Input kind, const tru::Buffer& input, unsigned char* out,
                                           unsigned long* outLen, bool sign)
{
    const uint32_t k = RsaKeyBinding::BlockLength(keys_.Private().GetModulusBits());
    RsaKeyBinding::RequireLength(kind, input, k);
    bool result = false;
    if (AnswerLengthOnly(k, out, outLen, result)) return result;
    vdk::SafeBuffer output;
    if (sign) {
        keys_.PrivateStorage().GenerateSignatureM(keys_.KeySlot(), input, output);
    } else {
        keys_.PrivateStorage().DecryptM(keys_.KeySlot(), input, output);
    }
    return PlaceResult(output, out, outLen);
}

bool TokRsaX509Mechanism::Encrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                  unsigned long* outLen)
{
    return PublicOperation(RsaKeyBinding::Input::Data, data, out, outLen);
}

bool TokRsaX509Mechanism::VerifyRecover(zrck::MechanismSession&, const tru::Buffer& signature, unsigned char* out,
                                        unsigned long* outLen)
{
    return PublicOperation(RsaKeyBinding::Input::Signature, signature, out, outLen);
}

bool TokRsaX509Mechanism::Decrypt(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                  unsigned long* outLen)
{
    return PrivateOperation(RsaKeyBinding::Input::Ciphertext, data, out, outLen, false);
}

bool TokRsaX509Mechanism::SignRecover(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                                      unsigned long* outLen)
{
    return PrivateOperation(RsaKeyBinding::Input::Data, data, out, outLen, false);
}

bool TokRsaX509Mechanism::Sign(zrck::MechanismSession&, const tru::Buffer& data, unsigned char* out,
                               unsigned long* outLen)
{
    return PrivateOperation(RsaKeyBinding::Input::Data, data, out, outLen, true);
}

bool TokRsaX509Mechanism::Verify(zrck::MechanismSession&, const tru::Buffer& data, const tru::Buffer& signature)
{
    const zrck::TokRsaPublicKey& key = keys_.Public();
    const CK_ULONG bits = key.GetModulusBits();
    if (bits != 512 && bits != 1024 && bits != 1536 && bits != 2048) throw zrck::Exception(CKR_GENERAL_ERROR);
    const EParamSet paramSet = TokRsaPublicKey::ConvertBitsToParamset(bits);
    tru::BufferDynamic blob;
    keys_.PublicBlob(blob);
    RsaKeyBinding::RequireLength(RsaKeyBinding::Input::Data, data, static_cast<uint32_t>(bits / 8));
    RsaKeyBinding::RequireLength(RsaKeyBinding::Input::Signature, signature, static_cast<uint32_t>(bits / 8));
    return keys_.PublicStorage().VerifySignatureM(blob, paramSet, data, signature);
}

zrck::TokMechanism* TokRsaX509Mechanism::Clone() const { return CloneOf(*this); }

}  // namespace qel
