// What objects and mechanisms ask of the token that holds them. The framework's token answers;
// the object model never sees more of it.
#ifndef ZR_OBJECTS_OBJECT_TOKEN_H
#define ZR_OBJECTS_OBJECT_TOKEN_H

#include "tru2/buffer.h"

namespace zrck {

class ObjectToken {
public:
    virtual ~ObjectToken() = default;
    // Fills the whole buffer from the token's generator; needs the user logged in.
    virtual void GenerateUserRandom(tru::Buffer& output) = 0;
    virtual bool IsSOLogged() const = 0;
    // A user or the security officer is logged in.
    virtual bool IsLogged() = 0;
    // The token's check value of a key value (CKR_FUNCTION_REJECTED where it keeps none).
    virtual void CalculateMark(const tru::Buffer& data, tru::BufferDynamic& mark) = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_OBJECT_TOKEN_H
