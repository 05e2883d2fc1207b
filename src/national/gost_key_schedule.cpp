#include "national/gost_key_schedule.h"

#include <cstring>

#include "ckbase/exception.h"
#include "national/gost_errors.h"
#include "national/tok_ua_gost_secret_key.h"
#include "national/ua_gost_utl.h"

namespace qel {

void GostKeySchedule::Load(TokUAGostSecretKey& key)
{
    Clear();
    key.ResolveSBoxIfPending();
    const tru::Buffer& value = key.GetValue();
    if (value.Size() != sizeof words_) throw zrck::Exception(CKR_KEY_SIZE_RANGE);
    table_ = WithFrameworkErrors([&] { return UAGostUtl::GetInstance()->GetKExt(key.GetSBoxValue()); });
    // The routines take the key words in memory order.
    std::memcpy(words_, value.Data(), sizeof words_);
}

void GostKeySchedule::Clear()
{
    tru::Buffer::Wipe(sizeof words_, words_);
    table_.reset();
}

TokUAGostSecretKey& AsGostKey(zrck::TokKey& key)
{
    auto* gostKey = dynamic_cast<TokUAGostSecretKey*>(&key);
    if (gostKey == nullptr) throw zrck::Exception(CKR_KEY_TYPE_INCONSISTENT);
    return *gostKey;
}

}  // namespace qel
