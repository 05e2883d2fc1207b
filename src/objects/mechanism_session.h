// What mechanisms ask of the session that runs them. The framework's session answers; the
// object model never sees more of it.
#ifndef ZR_OBJECTS_MECHANISM_SESSION_H
#define ZR_OBJECTS_MECHANISM_SESSION_H

#include "ckbase/attribute.h"
#include "objects/object_types.h"
#include "tru2/buffer.h"

namespace zrck {

class MechanismSession {
public:
    virtual ~MechanismSession() = default;
    // Null once the token has gone.
    virtual ObjectToken* GetOwnerToken() = 0;
    virtual bool IsReadOnly() const = 0;
    virtual void GenerateRandom(tru::Buffer& output) = 0;
    // A new object of the class the template names, kept by the session (initialize: check the
    // template as C_CreateObject does).
    virtual TokObjectPtr CreateObject(AttributeTemplate& attributes, bool initialize) = 0;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_MECHANISM_SESSION_H
