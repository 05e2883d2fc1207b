// A session for driving host mechanisms directly: they take the session by reference but ask
// nothing of it.
#pragma once

#include "ckbase/exception.h"
#include "objects/mechanism_session.h"

namespace swtest {

class NullSession : public zrck::MechanismSession {
public:
    zrck::ObjectToken* GetOwnerToken() override { return nullptr; }
    bool IsReadOnly() const override { return false; }
    void GenerateRandom(tru::Buffer&) override {}
    zrck::TokObjectPtr CreateObject(zrck::AttributeTemplate&, bool) override
    {
        throw zrck::Exception(CKR_FUNCTION_FAILED);
    }
};

}  // namespace swtest
