#include "lib_parameters.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "support/file.h"
#include "support/file_config.h"
#include "support/os_services.h"
#include "svc_types.h"

namespace zrck {

using zrsvc::ThrowCk;

LibParameters::LibParameters(const std::string& path) {
    vdk::FileConfig config(path, false);
    description_ = config.Get("zorvanecorp.zrcryptoki.lib.description");
    name_ = config.Get("zorvanecorp.zrcryptoki.lib.name");
    nssInit_ = config.Get("zorvanecorp.zrcryptoki.lib.nss_init");
    entry_ = config.Get("zorvanecorp.zrcryptoki.lib.entry");
    RefineLibName();
}

LibParameters::LibParameters(const std::string& name, const std::string& description)
    : description_(description), name_(name) {
    RefineLibName();
}

LibParameters::~LibParameters() {
    if (handle_ != nullptr)
        dlclose(handle_);
}

void LibParameters::RefineLibName() {
    if (name_.find(".so") == std::string::npos)
        name_ = "lib" + name_ + ".so";
}

CK_FUNCTION_LIST_PTR LibParameters::OpenAndInitLib(const std::string& initConfigFile, CK_SLOT_ID& slot,
                                                   bool osLocking, bool allSlots) {
    const std::string entry = entry_.empty() ? "C_GetFunctionList" : entry_;
    // Kept mapped when closed: a library may keep process-wide state past C_Finalize (the
    // token library keeps its lost-session list), and the process ends right after.
    handle_ = dlopen(name_.c_str(), RTLD_LAZY | RTLD_NODELETE);
    if (handle_ == nullptr) {
        const std::string text = "Can't load library " + description_ + " from file \"" + name_ + "\", dlopen error " +
                                 dlerror() + "\n";
        std::fprintf(stderr, "%s\n", text.c_str());
        throw zrsvc::SilentFailure{};
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle_, entry.c_str()));
    if (getList == nullptr) {
        const char* error = dlerror();
        std::fprintf(stderr, "dlsym error %s\n", error ? error : "");
        throw zrsvc::SilentFailure{};
    }
    CK_FUNCTION_LIST_PTR functions = nullptr;
    CK_RV rv = getList(&functions);
    if (rv != CKR_OK)
        ThrowCk("CK_GetFunctionList", rv);
    if (functions == nullptr)
        ThrowCk("CK_GetFunctionList", CKR_GENERAL_ERROR);

    CK_C_INITIALIZE_ARGS args{};
    args.flags = osLocking ? CKF_OS_LOCKING_OK : 0;
    if (!initConfigFile.empty()) {
        tru::BufferDynamic text;
        tru::TResult code = text.Load(initConfigFile.c_str());
        if (code != tru::SUCCESS)
            throw tru::Exception(code, ("Cannot read the -lib_init_config file \"" + initConfigFile + "\"").c_str());
        const uint32_t size = text.Size();
        code = text.Realloc(size + 1);
        if (code != tru::SUCCESS)
            throw tru::Exception(code);
        text.Data()[size] = 0;
        args.pReserved = text.Data();
        rv = functions->C_Initialize(&args);
    } else if (!nssInit_.empty()) {
        args.pReserved = const_cast<char*>(nssInit_.c_str());
        rv = functions->C_Initialize(&args);
    } else {
        rv = functions->C_Initialize(osLocking ? &args : nullptr);
    }
    if (rv != CKR_OK)
        ThrowCk("C_Initialize", rv);
    if (slot != zrsvc::kSlotUnset)
        return functions;

    const CK_BBOOL present = allSlots ? CK_FALSE : CK_TRUE;
    CK_ULONG count = 0;
    rv = functions->C_GetSlotList(present, nullptr, &count);
    if (rv != CKR_OK)
        ThrowCk("C_GetSlotList(0)", rv);
    std::vector<CK_SLOT_ID> list(count + 10, 0);
    CK_ULONG room = list.size();
    rv = functions->C_GetSlotList(present, list.data(), &room);
    if (rv != CKR_OK)
        ThrowCk("C_GetSlotList", rv);
    slot = list[0];
    return functions;
}

}  // namespace zrck

namespace zrsvc {

std::unique_ptr<zrck::LibParameters> globalLibParameters;

namespace {

// A configuration in the working directory chooses the library we load: take it only from a
// file this user owns and nobody else may change.
bool IsTrustedLocalConfig(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0)
        return false;
    if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        std::fprintf(stderr, "Warning: %s in the current directory is skipped: it is not owned by this user or is writable by others.\n",
                     path);
        return false;
    }
    return true;
}

tru::BufferDynamic GlobalRandomData;
uint64_t GlobalRandomDataIter = 0;

}  // namespace

std::string GetLoadLibConfigFilename() {
    using vdk::File;
    if (File::IsFileExist(zrck::kLoaderConfigName) && IsTrustedLocalConfig(zrck::kLoaderConfigName))
        return zrck::kLoaderConfigName;
    const std::string besideProgram = File::MergeFilePath(vdk::GetApplicationPath().c_str(), zrck::kLoaderConfigName);
    if (File::IsFileExist(besideProgram.c_str()))
        return besideProgram;
    const std::string local = File::MergeFilePath("/usr/local/etc", zrck::kLoaderConfigName);
    if (File::IsFileExist(local.c_str()))
        return local;
    return File::MergeFilePath("/etc", zrck::kLoaderConfigName);
}

CK_RV GetExternalRandomCallback(CK_BYTE_PTR buffer, CK_ULONG length) {
    const uint64_t size = GlobalRandomData.Size();
    const uint64_t rest = size - GlobalRandomDataIter;
    if (rest >= length) {
        if (length != 0)
            std::memcpy(buffer, GlobalRandomData.Data() + GlobalRandomDataIter, length);
        GlobalRandomDataIter += length;
        return CKR_OK;
    }
    // Random bytes are never served twice: a short rest fails the request.
    std::fprintf(stderr,
                 "Not enough random data loaded from file: loaded %lu, but library need %lu bytes of random data.\nOperation aborted!\n",
                 static_cast<unsigned long>(rest), length);
    return 1;
}

void ResetExtRandomForTest() {
    GlobalRandomData.Destroy();
    GlobalRandomDataIter = 0;
}

void SetupExtRandomCallback(const std::string& file) {
    const tru::TResult code = GlobalRandomData.Load(file.c_str());
    if (code != tru::SUCCESS)
        throw tru::Exception(code, ("Cannot load random data file " + file).c_str());
    GlobalRandomDataIter = 0;
    void* handle = globalLibParameters ? globalLibParameters->GetHandle() : nullptr;
    auto setAttributes =
        handle ? reinterpret_cast<CK_C_SetLibraryAttributes>(dlsym(handle, "C_SetLibraryAttributes")) : nullptr;
    if (setAttributes == nullptr) {
        std::fprintf(stderr, "Using external random data from file impossible: can't find C_SetLibraryAttributes.\n");
        return;
    }
    using Callback = CK_RV (*)(CK_BYTE_PTR, CK_ULONG);
    static Callback callback = GetExternalRandomCallback;
    CK_ATTRIBUTE attribute{CKA_ZR_EXT_RANDOM_CALLBACK, &callback, sizeof callback};
    const CK_RV rv = setAttributes(&attribute, 1);
    if (rv != CKR_OK)
        std::fprintf(stderr, "Using external random data from file impossible: error setting callback 0x%lx\n", rv);
}

}  // namespace zrsvc
