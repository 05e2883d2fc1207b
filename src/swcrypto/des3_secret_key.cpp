#include "swcrypto/des3_secret_key.h"

#include "ckbase/exception.h"
#include "objects/object_token.h"

#include <utility>

namespace mbt {

namespace {

CK_DATE BlankDate()
{
    CK_DATE date;
    std::memset(&date, ' ', sizeof date);
    return date;
}

void Copy(tru::BufferDynamic& target, const tru::Buffer& source)
{
    const tru::TResult rc = target.Set(source.Size(), source.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

}  // namespace

TokDES3SecretKey::TokDES3SecretKey() : startDate_(BlankDate()), endDate_(BlankDate())
{
    std::memset(&generationDate_, ' ', sizeof generationDate_);
}

void TokDES3SecretKey::SetKeyID(const tru::Buffer& id) { Copy(keyId_, id); }

void TokDES3SecretKey::SetSubject(const tru::Buffer& subject) { Copy(subject_, subject); }

void TokDES3SecretKey::AddDefaultUsageAttributes()
{
    flags_[kEncrypt] = CK_TRUE;
    flags_[kDecrypt] = CK_TRUE;
}

void TokDES3SecretKey::GetKeyMark(tru::BufferDynamic& mark)
{
    if (!GetIsExtractable()) throw zrck::Exception(CKR_KEY_UNEXTRACTABLE);
    zrck::ObjectToken* token = GetTokenPtr();
    if (token == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    token->CalculateMark(GetValue(), mark);
}

void TokDES3SecretKey::SetIsSensitive(CK_BBOOL value)
{
    if (flags_[kSensitive] && !value) throw zrck::Exception(CKR_ATTRIBUTE_READ_ONLY, "SENSITIVE");
    flags_[kSensitive] = Bool(value);
}

void TokDES3SecretKey::SetIsAlwaysSensitive(CK_BBOOL value)
{
    flags_[kAlwaysSensitive] = Bool(value);
    if (value) flags_[kSensitive] = CK_TRUE;
}

const tru::Buffer& TokDES3SecretKey::GetCheckValue() const { throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID); }

void TokDES3SecretKey::SetCheckValue(const tru::Buffer&) { throw zrck::Exception(CKR_ATTRIBUTE_TYPE_INVALID); }

void TokDES3SecretKey::CopyAttributesFrom(const TokDES3SecretKey& other)
{
    startDate_ = other.startDate_;
    endDate_ = other.endDate_;
    derive_ = other.derive_;
    local_ = other.local_;
    keyGenMechanism_ = other.keyGenMechanism_;
    std::memcpy(flags_, other.flags_, sizeof flags_);
}

bool TokDES3SecretKey::CopyIdentityFrom(const TokDES3SecretKey& other)
{
    bool changed = false;
    for (auto pair : {std::make_pair(&keyId_, &other.keyId_), std::make_pair(&subject_, &other.subject_)}) {
        if (*pair.first == *pair.second) continue;
        Copy(*pair.first, *pair.second);
        changed = true;
    }
    return changed;
}

}  // namespace mbt
