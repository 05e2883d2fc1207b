// Checks the abstract mechanisms make on the keys and parameters an operation is given.
#ifndef ZR_OBJECTS_MECHANISM_RULES_H
#define ZR_OBJECTS_MECHANISM_RULES_H

#include "ckbase/exception.h"
#include "objects/tok_mechanism.h"

namespace zrck {

// The key itself when it is of the given type, else CKR_KEY_TYPE_INCONSISTENT.
template <class Key>
Key& RequireKeyType(Key& key, CK_KEY_TYPE type, const char* message = "") {
    if (key.GetKeyType() != type) throw Exception(CKR_KEY_TYPE_INCONSISTENT, message);
    return key;
}

// A parameter of exactly the given size (a structure's sizeof), else CKR_MECHANISM_PARAM_INVALID.
inline void RequireParameterLength(const MechanismParameter& parameter, unsigned long length,
                                   const char* message = "") {
    if (BufferSize(parameter.GetParameter()) != length) throw Exception(CKR_MECHANISM_PARAM_INVALID, message);
}

}  // namespace zrck

#endif  // ZR_OBJECTS_MECHANISM_RULES_H
