#include "national/ck_error.h"

namespace qel {

void ThrowCkError(CK_RV code, const char* message) { throw CkError(code, message); }

} // namespace qel
