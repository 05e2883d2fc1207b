// What the helper processes of the two-process tests share: call checks reported on stderr and
// the module loaded and initialised as an application loads it.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ckbase/zr_pkcs11.h"

namespace helperprocess {

inline bool Check(const char* call, CK_RV rv)
{
    if (rv != CKR_OK) std::fprintf(stderr, "%s: 0x%lX\n", call, static_cast<unsigned long>(rv));
    return rv == CKR_OK;
}

inline std::vector<CK_BYTE> FromHex(const std::string& text)
{
    std::vector<CK_BYTE> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<CK_BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// The module's function list after C_Initialize with OS locking; null after a failure (on stderr).
inline CK_FUNCTION_LIST_PTR LoadModule(const char* path)
{
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return nullptr;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    if (getList == nullptr || !Check("C_GetFunctionList", getList(&p11))) return nullptr;
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    return Check("C_Initialize", p11->C_Initialize(&args)) ? p11 : nullptr;
}

}  // namespace helperprocess
