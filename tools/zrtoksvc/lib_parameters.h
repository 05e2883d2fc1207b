// Loader configuration and library start: which Cryptoki library to load, under which entry
// name and with which initialisation text.
#pragma once

#include <memory>
#include <string>

#include "ckbase/zr_pkcs11.h"
#include "support/noncopyable.h"

namespace zrck {

// Documented in the README:
//   zorvanecorp.zrcryptoki.lib.description  name shown in the banner
//   zorvanecorp.zrcryptoki.lib.name         library file (".so" added as lib<name>.so when absent)
//   zorvanecorp.zrcryptoki.lib.nss_init     pReserved text of C_Initialize without -lib_init_config
//   zorvanecorp.zrcryptoki.lib.entry        entry function (C_GetFunctionList when empty)
constexpr const char* kLoaderConfigName = "load-zrcryptoki.cfg";
constexpr const char* kBuiltInLibName = "libzrcryptokiqel.so";
constexpr const char* kBuiltInLibDescription = "ZorvaneUA ZorvaneKey token";

class LibParameters : private vdk::Noncopyable {
public:
    // Reads the configuration file; throws vdk::Exception when it cannot be read.
    explicit LibParameters(const std::string& path);
    LibParameters(const std::string& name, const std::string& description);
    virtual ~LibParameters();

    // Loads, initialises and, with slot unset, chooses the first slot with a token.
    // Load failures throw SilentFailure, Cryptoki failures CkError, file failures tru::Exception.
    CK_FUNCTION_LIST_PTR OpenAndInitLib(const std::string& initConfigFile, CK_SLOT_ID& slot, bool osLocking,
                                        bool allSlots);

    const std::string& GetDescription() const { return description_; }
    const std::string& GetName() const { return name_; }
    const std::string& GetNssInit() const { return nssInit_; }
    const std::string& GetEntry() const { return entry_; }
    void* GetHandle() const { return handle_; }

private:
    void RefineLibName();

    std::string description_;
    std::string name_;
    std::string nssInit_;
    std::string entry_;
    void* handle_ = nullptr;
};

}  // namespace zrck

namespace zrsvc {

// The configuration to read: the current directory's (only when it belongs to this user and
// nobody else may write it), then beside the program, /usr/local/etc, /etc.
std::string GetLoadLibConfigFilename();

extern std::unique_ptr<zrck::LibParameters> globalLibParameters;

// External random source for the token library, from a file (C_SetLibraryAttributes).
void SetupExtRandomCallback(const std::string& file);
CK_RV GetExternalRandomCallback(CK_BYTE_PTR buffer, CK_ULONG length);
void ResetExtRandomForTest();

}  // namespace zrsvc
