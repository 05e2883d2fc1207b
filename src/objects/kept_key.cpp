#include "objects/kept_key.h"

#include <cstring>

#include "ckbase/exception.h"
#include "tru2/exception.h"

namespace zrck {

KeyFields::KeyFields()
{
    std::memset(&startDate, ' ', sizeof startDate);
    std::memset(&endDate, ' ', sizeof endDate);
    std::memset(&generationDate, ' ', sizeof generationDate);
}

void KeyFields::CopyPlainValues(const KeyFields& other)
{
    startDate = other.startDate;
    endDate = other.endDate;
    derive = other.derive;
    local = other.local;
    keyGenMechanism = other.keyGenMechanism;
}

bool KeyFields::RefreshBuffers(const KeyFields& other)
{
    const bool idChanged = CopyKeyBufferIfDifferent(keyId, other.keyId);
    const bool subjectChanged = CopyKeyBufferIfDifferent(subject, other.subject);
    return idChanged || subjectChanged;
}

void CopyKeyBuffer(tru::BufferDynamic& target, const tru::Buffer& source)
{
    const tru::TResult rc = target.Set(source.Size(), source.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
}

bool CopyKeyBufferIfDifferent(tru::BufferDynamic& target, const tru::Buffer& source)
{
    if (target.Size() == source.Size() && (source.Size() == 0 || target == source)) return false;
    CopyKeyBuffer(target, source);
    return true;
}

void SensitiveKeyFlags::SetSensitive(CK_BBOOL value)
{
    if (sensitive && !value) throw Exception(CKR_ATTRIBUTE_READ_ONLY, "SENSITIVE");
    sensitive = value;
}

void SensitiveKeyFlags::SetAlwaysSensitive(CK_BBOOL value)
{
    alwaysSensitive = value;
    if (value) sensitive = CK_TRUE;
}

void PrivateKeyFlags::MarkGenerated()
{
    sensitive = CK_TRUE;
    alwaysSensitive = CK_TRUE;
    extractable = CK_FALSE;
    neverExtractable = CK_TRUE;
}

void ThrowKeyWithoutAlgorithmId()
{
    throw Exception(CKR_FUNCTION_FAILED, "public key is not linked with a public key algorithm id");
}

void ThrowNoCheckValue() { throw Exception(CKR_ATTRIBUTE_TYPE_INVALID); }

}  // namespace zrck
