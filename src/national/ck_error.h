// Failures of the national code that carry a Cryptoki result code.
#pragma once

#include "ckbase/zr_pkcs11.h"

#include <stdexcept>

namespace qel {

// Raised only through ThrowCkError, the one place to point at the framework's error class
// (zrck::Exception, same code and message) once it exists.
class CkError : public std::runtime_error {
public:
    CkError(CK_RV code, const char* message) : std::runtime_error(message), code_(code) {}
    CK_RV GetCode() const { return code_; }

private:
    CK_RV code_;
};

[[noreturn]] void ThrowCkError(CK_RV code, const char* message = "");

} // namespace qel
