// The object model's classes by name, and the handle the framework keeps them by.
#ifndef ZR_OBJECTS_OBJECT_TYPES_H
#define ZR_OBJECTS_OBJECT_TYPES_H

#include <memory>

namespace zrck {

class ObjectToken;
class MechanismSession;
class TokObject;
class TokStorageObject;
class TokKey;
class TokPublicKey;
class TokPrivateKey;
class TokSecretKey;
class TokMechanism;

using TokObjectPtr = std::shared_ptr<TokObject>;

}  // namespace zrck

#endif  // ZR_OBJECTS_OBJECT_TYPES_H
