// Shared steps of the library's per-session bodies: the session with its slot and present
// token, and a key held by its handle for the length of a call.
#ifndef ZR_CRYPTOKI_LIBRARY_CALLS_H
#define ZR_CRYPTOKI_LIBRARY_CALLS_H

#include <memory>

#include "cryptoki/framework_types.h"
#include "ckbase/zr_pkcs11.h"

namespace zrck {

class UnblockGuard;

// Session(ro), the session's slot and its present token, held for the call.
struct SessionCall {
    SessionCall(Library& library, CK_SESSION_HANDLE handle);
    SessionPtr session;
    SlotPtr slot;
    TokenPtr token;
};

// The key a handle names, with its use count raised until destruction. No object: missing;
// an object that is not a public, private or secret key: CKR_OBJECT_HANDLE_INVALID.
class HeldKey {
public:
    HeldKey(Slot& slot, CK_OBJECT_HANDLE handle, CK_RV missing);
    ~HeldKey();
    HeldKey(const HeldKey&) = delete;
    HeldKey& operator=(const HeldKey&) = delete;
    TokKey* Get() const { return mKey; }

private:
    std::unique_ptr<UnblockGuard> mGuard;
    TokKey* mKey = nullptr;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_LIBRARY_CALLS_H
