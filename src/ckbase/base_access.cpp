#include "ckbase/base_access.h"

#include <limits>

#include "ckbase/exception.h"

namespace zrck {

MutexPtr CreateNamedMutex(const std::string& name) {
    if (vdk::MutexFactory::Instance().GetGenerator() == nullptr) throw Exception(CKR_GENERAL_ERROR);
    return vdk::MutexFactory::NewMutex(name);
}

tru::Buffer MakeView(const void* data, CK_ULONG length) {
    if (length > std::numeric_limits<unsigned int>::max()) throw Exception(CKR_ARGUMENTS_BAD);
    return tru::Buffer(data, static_cast<uint32_t>(length));
}

const unsigned char* BufferBytes(const tru::Buffer& buffer) { return buffer.Data(); }
unsigned long BufferSize(const tru::Buffer& buffer) { return buffer.Size(); }

}  // namespace zrck
