#include "swcrypto/des3_secret_key.h"

#include "ckbase/exception.h"
#include "objects/object_token.h"

namespace mbt {

void TokDES3SecretKey::AddDefaultUsageAttributes()
{
    flags_.encrypt = CK_TRUE;
    flags_.decrypt = CK_TRUE;
}

void TokDES3SecretKey::GetKeyMark(tru::BufferDynamic& mark)
{
    if (!GetIsExtractable()) throw zrck::Exception(CKR_KEY_UNEXTRACTABLE);
    zrck::ObjectToken* token = GetTokenPtr();
    if (token == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
    token->CalculateMark(GetValue(), mark);
}

}  // namespace mbt
