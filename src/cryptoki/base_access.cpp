#include "cryptoki/base_access.h"

#include <limits>

#include "cryptoki/exception.h"

namespace zrck {

MutexPtr CreateNamedMutex(const std::string& name) {
    if (vdk::MutexFactory::mInstance == nullptr) vdk::MutexFactory::mInstance = new vdk::MutexFactory();
    vdk::MutexFactory* factory = vdk::MutexFactory::mInstance;
    if (factory->generator == nullptr) throw Exception(CKR_GENERAL_ERROR);
    return MutexPtr(factory->generator(name, factory->flags));
}

tru::Buffer MakeView(const void* data, CK_ULONG length) {
    if (length > std::numeric_limits<unsigned int>::max()) throw Exception(CKR_ARGUMENTS_BAD);
    return tru::Buffer(const_cast<void*>(data), static_cast<unsigned int>(length));
}

const unsigned char* BufferBytes(const tru::Buffer& buffer) { return buffer.data; }
unsigned long BufferSize(const tru::Buffer& buffer) { return buffer.size; }

}  // namespace zrck
