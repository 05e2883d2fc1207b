// An application that finalises the module from an exit handler registered before it loaded
// the module (as OpenSSL's clean-up at exit does): the handler runs after the module's static
// objects are gone. exit_finalize_process MODULE; opens a session on the first slot with a
// token, if any, lists its public objects and returns from main without C_Finalize. Exits 0 when the handler's
// C_Finalize answered CKR_OK and the C_GetInfo after it CKR_CRYPTOKI_NOT_INITIALIZED, 3 when
// they answered otherwise.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "helper_process.h"

namespace {

CK_FUNCTION_LIST_PTR p11 = nullptr;

void FinalizeAtExit()
{
    if (p11 == nullptr) return;
    const CK_RV finalized = p11->C_Finalize(nullptr);
    CK_INFO info{};
    const CK_RV after = p11->C_GetInfo(&info);
    if (finalized != CKR_OK || after != CKR_CRYPTOKI_NOT_INITIALIZED) {
        std::fprintf(stderr, "at exit: C_Finalize 0x%lX, C_GetInfo 0x%lX\n", static_cast<unsigned long>(finalized),
                     static_cast<unsigned long>(after));
        _exit(3);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
        return 2;
    }
    if (std::atexit(&FinalizeAtExit) != 0) return 1;
    CK_FUNCTION_LIST_PTR loaded = helperprocess::LoadModule(argv[1]);
    if (loaded == nullptr) return 1;
    p11 = loaded;
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    if (!helperprocess::Check("C_GetSlotList", p11->C_GetSlotList(CK_TRUE, slots, &count))) return 1;
    if (count > 0) {
        CK_SESSION_HANDLE session = 0;
        CK_TOKEN_INFO token{};
        if (!helperprocess::Check("C_OpenSession",
                                  p11->C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session)) ||
            !helperprocess::Check("C_GetTokenInfo", p11->C_GetTokenInfo(slots[0], &token))) {
            return 1;
        }
        CK_OBJECT_HANDLE found[16];
        CK_ULONG foundCount = 0;
        if (!helperprocess::Check("C_FindObjectsInit", p11->C_FindObjectsInit(session, nullptr, 0)) ||
            !helperprocess::Check("C_FindObjects", p11->C_FindObjects(session, found, 16, &foundCount))) {
            return 1;
        }
    }
    return 0;
}
