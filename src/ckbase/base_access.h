// The framework's one point of contact with the base library's buffers and mutex factory.
#ifndef ZR_CKBASE_BASE_ACCESS_H
#define ZR_CKBASE_BASE_ACCESS_H

#include <memory>
#include <string>

#include "ckbase/zr_pkcs11.h"
#include "support/mutex.h"
#include "tru2/buffer.h"

namespace zrck {

using MutexPtr = std::unique_ptr<vdk::MutexIntf>;

// A new mutex of the kind the installed generator makes (the factory record is created when
// missing). Throws CKR_GENERAL_ERROR when no generator has been installed yet.
MutexPtr CreateNamedMutex(const std::string& name);

// A non-owning view over caller memory; a length beyond what a buffer can describe is
// refused with CKR_ARGUMENTS_BAD rather than truncated.
tru::Buffer MakeView(const void* data, CK_ULONG length);

const unsigned char* BufferBytes(const tru::Buffer& buffer);
unsigned long BufferSize(const tru::Buffer& buffer);

}  // namespace zrck

#endif  // ZR_CKBASE_BASE_ACCESS_H
