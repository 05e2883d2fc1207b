// Another process on the token: creates one data object through the module.
//   road_writer MODULE USER_PIN LABEL
#include <dlfcn.h>

#include <cstdio>
#include <exception>

#include "token_road.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: road_writer MODULE USER_PIN LABEL\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "road_writer: %s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    if (getList == nullptr || getList(&p11) != CKR_OK) return 1;
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    if (p11->C_Initialize(&args) != CKR_OK) return 1;
    int status = 1;
    try {
        CK_ULONG count = 1;
        CK_SLOT_ID slot = 0;
        CK_SESSION_HANDLE session = 0;
        const std::string pin = argv[2];
        if (p11->C_GetSlotList(CK_TRUE, &slot, &count) == CKR_OK && count == 1 &&
            p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK &&
            p11->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                         pin.size()) == CKR_OK) {
            road::CreateDataObject(p11, session, argv[3], "written by another process");
            status = 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "road_writer: %s\n", e.what());
    }
    p11->C_Finalize(nullptr);
    return status;
}
