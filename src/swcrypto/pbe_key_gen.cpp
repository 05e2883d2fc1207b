#include "swcrypto/pbe_key_gen.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ckbase/exception.h"
#include "objects/mechanism_session.h"
#include "swcrypto/des3_engine.h"
#include "swcrypto/sha_hashers.h"

namespace mbt {

namespace {

const uint32_t kBlock = 64;  // SHA-1 block (v)
const uint32_t kHash = TokSha1Hasher::SHA1_DIGEST_BYTES_LENGTH;  // u
const CK_OBJECT_CLASS kSecretKeyClass = CKO_SECRET_KEY;
const CK_KEY_TYPE kDes3KeyType = CKK_DES3;

void Resize(vdk::SafeBuffer& buffer, uint32_t size)
{
    const tru::TResult rc = buffer.Alloc(size);
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

// source repeated to fill whole 64-byte blocks, the last repetition cut short.
void MakeCopies(const unsigned char* source, uint32_t length, vdk::SafeBuffer& out)
{
    const uint32_t size = (length + kBlock - 1) / kBlock * kBlock;
    Resize(out, size);
    for (uint32_t at = 0; at < size; at += length) std::memcpy(out.Data() + at, source, std::min(length, size - at));
}

// H^c(D ‖ I) into a.
void IteratedHash(const vdk::SafeBuffer& d, const vdk::SafeBuffer& i, CK_ULONG iterations, unsigned char* a)
{
    TokSha1Hasher hasher;
    hasher.Start();
    hasher.Update(d);
    hasher.Update(i);
    hasher.Finish(a);
    for (CK_ULONG round = 1; round < iterations; ++round) {
        hasher.Start();
        hasher.Update(tru::Buffer(a, kHash));
        hasher.Finish(a);
    }
}

// block = (block + b + 1) mod 2^512, big-endian.
void AddPlusOne(unsigned char* block, const unsigned char* b)
{
    unsigned carry = 1;
    for (uint32_t k = kBlock; k-- > 0;) {
        carry += static_cast<unsigned>(block[k]) + b[k];
        block[k] = static_cast<unsigned char>(carry);
        carry >>= 8;
    }
}

void Check(const zrck::Attribute& entry, CK_ULONG length)
{
    if (entry.GetLength() != length) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
}

}  // namespace

TokSha1PBE3DESEdeCbcKeyGenMechanism::TokSha1PBE3DESEdeCbcKeyGenMechanism()
{
    SetMechanismType(CKM_PBE_SHA1_DES3_EDE_CBC);
    SetFlags(CKF_GENERATE);
    SetMinKeySize(KEY_LENGTH);
    SetMaxKeySize(KEY_LENGTH);
}

void TokSha1PBE3DESEdeCbcKeyGenMechanism::SetParams(const CK_PBE_PARAMS* params)
{
    params_ = params;
    if (params->ulPasswordLen == 0 || params->pPassword == nullptr || params->ulSaltLen == 0 ||
        params->pSalt == nullptr || params->pInitVector == nullptr) {
        throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
    }
    // Lengths are used as 32-bit sizes below.
    if (params->ulPasswordLen > 0xFFFFFF || params->ulSaltLen > 0xFFFFFF) {
        throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
    }
}

void TokSha1PBE3DESEdeCbcKeyGenMechanism::Derive(unsigned char id, const CK_PBE_PARAMS& params, uint32_t length,
                                                 vdk::SafeBuffer& out)
{
    if (params.ulIteration == 0) throw zrck::Exception(CKR_MECHANISM_PARAM_INVALID);
    vdk::SafeBuffer d(kBlock);
    std::memset(d.Data(), id, kBlock);
    vdk::SafeBuffer salt, password;
    MakeCopies(params.pSalt, static_cast<uint32_t>(params.ulSaltLen), salt);
    MakeCopies(params.pPassword, static_cast<uint32_t>(params.ulPasswordLen), password);
    vdk::SafeBuffer i(salt);
    if (i.AppendBuffer(password) != tru::SUCCESS) throw tru::Exception(tru::ERROR_MEM);

    const uint32_t rounds = (length + kHash - 1) / kHash;
    vdk::SafeBuffer result(rounds * kHash);
    vdk::SafeBuffer b(kBlock);
    for (uint32_t round = 0; round < rounds; ++round) {
        unsigned char* a = result.Data() + round * kHash;
        IteratedHash(d, i, params.ulIteration, a);
        if (round + 1 == rounds) break;
        for (uint32_t at = 0; at < kBlock; at += kHash) std::memcpy(b.Data() + at, a, std::min(kHash, kBlock - at));
        for (uint32_t at = 0; at < i.Size(); at += kBlock) AddPlusOne(i.Data() + at, b.Data());
    }
    Resize(out, length);
    std::memcpy(out.Data(), result.Data(), length);
}

zrck::TokMechanism::KeyPointer TokSha1PBE3DESEdeCbcKeyGenMechanism::GenerateKey(
    zrck::MechanismSession& session, const zrck::MechanismParameter& parameter, zrck::AttributeTemplate& attributes)
{
    if (parameter.GetType() != CKM_PBE_SHA1_DES3_EDE_CBC) throw zrck::Exception(CKR_MECHANISM_INVALID);
    SetParameter(parameter);

    attributes.ResetProcessed();
    CK_KEY_TYPE keyType = CKK_DES3;
    for (CK_ULONG index = 0; index < attributes.GetCount(); ++index) {
        const zrck::Attribute& entry = attributes[index];
        switch (entry.GetType()) {
            case CKA_CLASS:
                Check(entry, sizeof(CK_ULONG));
                if (entry.GetAsULong() != CKO_SECRET_KEY) throw zrck::Exception(CKR_TEMPLATE_INCONSISTENT);
                break;
            case CKA_TOKEN:
            case CKA_PRIVATE: entry.GetAsBool(); break;
            case CKA_KEY_TYPE:
                Check(entry, sizeof(CK_ULONG));
                keyType = entry.GetAsULong();
                break;
            case CKA_VALUE_LEN:
                Check(entry, sizeof(CK_ULONG));
                if (entry.GetAsULong() != KEY_LENGTH) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);
                break;
            case CKA_VALUE: throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID);
            default: break;
        }
    }
    if (keyType != CKK_DES3) throw zrck::Exception(CKR_ATTRIBUTE_VALUE_INVALID);

    vdk::SafeBuffer key;
    Derive(ID_FOR_ENCRYPTION_KEY, *params_, KEY_LENGTH, key);
    TokDES3Utl::CorrectKeyValue(key);
    vdk::SafeBuffer iv;
    Derive(ID_FOR_IV, *params_, IV_LENGTH, iv);

    // The key is made from the caller's template without CKA_VALUE_LEN (no attribute of the key),
    // with the class, the value and CKK_DES3 (also when the template names no key type, so the
    // class factory finds the Triple-DES key class).
    std::vector<CK_ATTRIBUTE> records;
    for (CK_ULONG index = 0; index < attributes.GetCount(); ++index) {
        const CK_ATTRIBUTE* record = attributes[index].GetRecord();
        if (record->type != CKA_VALUE_LEN && record->type != CKA_CLASS && record->type != CKA_KEY_TYPE) {
            records.push_back(*record);
        }
    }
    CK_OBJECT_CLASS keyClass = kSecretKeyClass;
    CK_KEY_TYPE des3 = kDes3KeyType;
    records.push_back({CKA_CLASS, &keyClass, sizeof keyClass});
    records.push_back({CKA_KEY_TYPE, &des3, sizeof des3});
    records.push_back({CKA_VALUE, key.Data(), key.Size()});
    zrck::AttributeTemplate creation(records.data(), static_cast<CK_ULONG>(records.size()));

    KeyPointer object = session.CreateObject(creation, true);
    auto* secret = dynamic_cast<zrck::TokSecretKey*>(object.get());
    if (secret == nullptr || object->GetClass() != CKO_SECRET_KEY) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    secret->AddGeneratedSensitiveAttributes(session);
    // Made by C_GenerateKey: a local key, whose CKA_KEY_GEN_MECHANISM is reported.
    secret->SetLocal(CK_TRUE);
    secret->SetKeyGenMechanism(CKM_PBE_SHA1_DES3_EDE_CBC);
    std::memcpy(params_->pInitVector, iv.Data(), IV_LENGTH);
    return object;
}

}  // namespace mbt
