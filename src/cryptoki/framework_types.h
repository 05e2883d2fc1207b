// Shared-ownership handles of the framework's classes.
#ifndef ZR_CRYPTOKI_FRAMEWORK_TYPES_H
#define ZR_CRYPTOKI_FRAMEWORK_TYPES_H

#include <memory>

#include "objects/object_types.h"

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
class AttributeTemplate;

using SlotPtr = std::shared_ptr<Slot>;
using TokenPtr = std::shared_ptr<Token>;
using SessionPtr = std::shared_ptr<SessionFrame>;

}  // namespace zrck

#endif  // ZR_CRYPTOKI_FRAMEWORK_TYPES_H
