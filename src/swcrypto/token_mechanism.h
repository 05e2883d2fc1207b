// What the token adds to a host mechanism: a Clone that makes a fresh object of the same
// class for a session (type, sizes, flags and token copied; no running operation), and a
// destructor that ends the running operation first.
#pragma once

#include "support/noncopyable.h"

namespace zrck {
class TokMechanism;
}

namespace qel {

template <class Derived, class Base>
class TokenMechanism : public Base, private vdk::Noncopyable {
public:
    ~TokenMechanism() override { this->FreeResources(); }

    zrck::TokMechanism* Clone() const override
    {
        auto* clone = new Derived();
        clone->AssignAttributes(*this);
        return clone;
    }
};

}  // namespace qel
