#ifndef TESTS_SIGN_WEB_HOST_NP_HOST_H
#define TESTS_SIGN_WEB_HOST_NP_HOST_H

#include "NPAPI/np_api.h"
#include "service/test_service.h"

#include <optional>
#include <set>
#include <string>

namespace npdlscp_test {

// A folder made once per process holding links to npdlscp.so, libhcy.so and the test
// service dlscprpc.so, laid out as installed; removed at exit.
const std::string& StageDirectory();
std::string StagePath(const char* fileName);

std::string CurrentDirectory();

// Whether the stage's test service is loaded in this process, and its counters while it is.
bool ServiceLoaded();
DlscprpcTestState ServiceState();

// Moves the test service out of the stage folder for its lifetime.
class ServiceHidden {
public:
    ServiceHidden();
    ~ServiceHidden();
};

// A headless browser for the plug-in: it loads npdlscp.so from the stage folder, offers the
// browser functions the plug-in calls (memory, identifiers, objects, invoke) and drives the
// plug-in as a browser does. One host at a time.
class NpHost {
public:
    NpHost();
    NpHost(const NpHost&) = delete;
    NpHost& operator=(const NpHost&) = delete;
    // NP_Shutdown when initialised, then unloads the plug-in.
    ~NpHost();

    void* Symbol(const char* name) const;
    // Browser table of the full size; the plug-in table as a browser announces it.
    NPNetscapeFuncs& BrowserFuncs() { return browser_; }
    NPPluginFuncs& PluginFuncs() { return plugin_; }
    NPError Initialize();
    NPError Initialize(NPNetscapeFuncs* browser, NPPluginFuncs* plugin);

    NPError NewInstance(NPP_t& instance);
    NPError SetWindow(NPP_t& instance, void* handle);
    // NPP_GetValue for the scriptable object: one new reference, or null.
    NPObject* Scriptable(NPP_t& instance);
    NPError Destroy(NPP_t& instance);

    // Invoke as page script does; the reply text, or nothing when the call failed.
    std::optional<std::string> Call(NPObject* object, const char* method, const NPVariant* args,
                                    uint32_t argCount);
    std::optional<std::string> ProcessData(NPObject* object, const std::string& text);
    NPObject* Retain(NPObject* object);
    void Release(NPObject* object);

    // The browser's memory allocation fails while this is set.
    void FailMemAlloc(bool fail) { failMemAlloc_ = fail; }
    int LiveObjects() const { return liveObjects_; }
    int LiveAllocations() const { return liveAllocations_; }
    NPIdentifier Identifier(const char* name);

private:
    static NpHost* current_;
    static void* MemAlloc(uint32_t size);
    static void MemFree(void* memory);
    static NPIdentifier GetStringIdentifier(const NPUTF8* name);
    static bool IdentifierIsString(NPIdentifier identifier);
    static NPUTF8* UTF8FromIdentifier(NPIdentifier identifier);
    static NPObject* CreateObject(NPP npp, NPClass* aClass);
    static NPObject* RetainObject(NPObject* object);
    static void ReleaseObject(NPObject* object);
    static bool Invoke(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* args,
                       uint32_t argCount, NPVariant* result);
    static bool HasMethod(NPP npp, NPObject* object, NPIdentifier name);
    static void ReleaseVariantValue(NPVariant* variant);

    void* library_ = nullptr;
    bool initialized_ = false;
    NPNetscapeFuncs browser_{};
    NPPluginFuncs plugin_{};
    std::set<std::string> identifiers_;
    bool failMemAlloc_ = false;
    int liveObjects_ = 0;
    int liveAllocations_ = 0;
};

} // namespace npdlscp_test

#endif
