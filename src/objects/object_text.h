// The one-line text form of objects, for logs.
#ifndef ZR_OBJECTS_OBJECT_TEXT_H
#define ZR_OBJECTS_OBJECT_TEXT_H

#include <string>

#include "objects/tok_object.h"
#include "tru2/buffer.h"

namespace zrck {

// "0x" and the bytes in upper-case hex, at least 8 digits, zero-padded on the left.
std::string HexId(const tru::Buffer& id);

// "Class[This: ADDR, Handle: H, Label="...", <idName>: 0x........<tail>]": the address in the
// stream's pointer notation, the handle in upper-case hex.
std::string ObjectText(const TokObject& object, const tru::Buffer& label, const char* idName, const tru::Buffer& id,
                       const std::string& tail = std::string());

}  // namespace zrck

#endif  // ZR_OBJECTS_OBJECT_TEXT_H
