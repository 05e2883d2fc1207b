// The national code reports failures as qel::CkError; everything above it expects the
// framework's zrck::Exception with the same code and message.
#pragma once

#include <utility>

#include "ckbase/exception.h"
#include "national/ck_error.h"

namespace qel {

template <class Body>
auto WithFrameworkErrors(Body&& body) -> decltype(body())
{
    try {
        return std::forward<Body>(body)();
    } catch (const CkError& error) {
        throw zrck::Exception(error.GetCode(), error.what());
    }
}

}  // namespace qel
