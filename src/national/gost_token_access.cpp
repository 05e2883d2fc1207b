#include "national/gost_token_access.h"

#include "ckbase/exception.h"
#include "driver/qel_params_storage.h"
#include "driver/qel_token.h"
#include "driver/token_storage.h"

namespace qel {

GostTokenAccess::GostTokenAccess(zrck::ObjectToken* token)
    : driverToken_(dynamic_cast<Token*>(token)), services_(dynamic_cast<GostTokenServices*>(token))
{
    if (driverToken_ == nullptr && services_ == nullptr) throw zrck::Exception(CKR_FUNCTION_FAILED);
}

bool GostTokenAccess::IsNationalSupported() const
{
    if (services_ != nullptr) return services_->IsNationalSupported();
    return Token::ExtractStorage(driverToken_)->IsDHSupportedM();
}

bool GostTokenAccess::FindParam(const tru::Buffer& id, CK_KEY_TYPE keyType, tru::BufferDynamic& value) const
{
    if (services_ != nullptr) return services_->FindParam(id, keyType, value);
    const tru::Buffer& found = driverToken_->GetParamsStorage().FindParam(id, keyType);
    if (found.Empty()) return false;
    const tru::TResult rc = value.Set(found.Size(), found.Data());
    if (rc != tru::SUCCESS) throw tru::Exception(rc);
    return true;
}

void GostTokenAccess::AddParam(const tru::Buffer& id, CK_KEY_TYPE keyType, const tru::Buffer& value) const
{
    if (services_ != nullptr) {
        services_->AddParam(id, keyType, value);
        return;
    }
    driverToken_->GetParamsStorage().AddParam(id, keyType, value);
}

}  // namespace qel
