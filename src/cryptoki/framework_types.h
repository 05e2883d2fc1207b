// Shared-ownership handles of the framework's classes.
#ifndef ZR_CRYPTOKI_FRAMEWORK_TYPES_H
#define ZR_CRYPTOKI_FRAMEWORK_TYPES_H

#include <memory>

namespace zrck {

class LibraryFrame;
class Library;
class SlotFrame;
class Slot;
class SlotFactory;
class Token;
class SessionFrame;
class Session;
class UserFrame;
class User;
class TokObject;
class TokStorageObject;
class TokKey;
class TokPublicKey;
class TokPrivateKey;
class TokSecretKey;
class TokMechanism;
class AttributeTemplate;

using SlotPtr = std::shared_ptr<Slot>;
using TokenPtr = std::shared_ptr<Token>;
using SessionPtr = std::shared_ptr<SessionFrame>;
using TokObjectPtr = std::shared_ptr<TokObject>;

}  // namespace zrck

#endif  // ZR_CRYPTOKI_FRAMEWORK_TYPES_H
