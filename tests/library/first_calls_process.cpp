// The first calls of an application that starts while the card may be leaving: C_Initialize,
// the slot list, the slot and token information, a session and a login on the first slot.
// first_calls_process MODULE USER_PIN [GATE [first]]; prints one line "NAME 0xRV" per call made
// (and "C_GetSlotInfo.present 0x0/0x1") and exits 0 when the module could be loaded and
// initialised. With GATE (a named pipe), the first call that needs the token waits for a line
// from it; with "first", C_Initialize does, so that every call of the process comes after it.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ckbase/zr_pkcs11.h"

namespace {

CK_RV Report(const char* call, CK_RV rv)
{
    std::printf("%s 0x%lX\n", call, static_cast<unsigned long>(rv));
    return rv;
}

}  // namespace

bool Pass(const char* gatePath)
{
    FILE* gate = std::fopen(gatePath, "r");
    char line[8];
    const bool passed = gate != nullptr && std::fgets(line, sizeof line, gate) != nullptr;
    if (gate != nullptr) std::fclose(gate);
    return passed;
}

int main(int argc, char** argv)
{
    const bool gateFirst = argc == 5 && std::strcmp(argv[4], "first") == 0;
    if ((argc != 3 && argc != 4 && !gateFirst)) {
        std::fprintf(stderr, "usage: %s MODULE USER_PIN [GATE [first]]\n", argv[0]);
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    if (getList == nullptr || getList(&p11) != CKR_OK) return 1;
    if (gateFirst && !Pass(argv[3])) return 1;
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    if (Report("C_Initialize", p11->C_Initialize(&args)) != CKR_OK) return 1;
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    if (Report("C_GetSlotList", p11->C_GetSlotList(CK_FALSE, slots, &count)) == CKR_OK && count > 0) {
        if (argc == 4 && !Pass(argv[3])) return 1;
        CK_SLOT_INFO slotInfo{};
        if (Report("C_GetSlotInfo", p11->C_GetSlotInfo(slots[0], &slotInfo)) == CKR_OK) {
            Report("C_GetSlotInfo.present", (slotInfo.flags & CKF_TOKEN_PRESENT) != 0);
        }
        CK_TOKEN_INFO info{};
        Report("C_GetTokenInfo", p11->C_GetTokenInfo(slots[0], &info));
        CK_SESSION_HANDLE session = 0;
        if (Report("C_OpenSession", p11->C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session)) ==
            CKR_OK) {
            std::string pin = argv[2];
            Report("C_Login", p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()));
        }
    }
    p11->C_Finalize(nullptr);
    return 0;
}
