#ifndef SIGN_WEB_NPAPI_PLUGIN_DALSIGN_NPAPI_OBJECT_H
#define SIGN_WEB_NPAPI_PLUGIN_DALSIGN_NPAPI_OBJECT_H

#include "Extension/Common/ijswe_connector_delegate.h"
#include "NPAPI/npapi_object.h"

class IDalsignRPC;
class JSWEConnector;

// The object page script sees: one method, ProcessData (one string in, one string out). On
// first use it loads the signing service and makes the message connector, whose delegate it
// is; the service is released when the browser drops the object.
class DalsignNPAPIObject : public NPAPIObject, public IJSWEConnectorDelegate {
public:
    explicit DalsignNPAPIObject(NPP npp);
    ~DalsignNPAPIObject() override;

    // The class's allocate.
    static NPObject* AllocateObject(NPP npp, NPClass* aClass);

    bool HasMethod(NPIdentifier name) override;
    bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                NPVariant* result) override;
    // No properties and no default call: the inherited answers (false) stand.

    bool ProcessData(const NPVariant* args, uint32_t argCount, NPVariant* result);
    // 1 when the service is ready (or already was); the working directory is left as found.
    int Initialize();
    void Finalize();

    void FreeMemory(void* memory) override;
    const char* GetAppVersion() override;
    unsigned long GetMaxResponseBufferSize() override;
    int BASE64IsValid(const char* text) override;
    int BASE64Encode(const unsigned char* data, unsigned long length, char** text) override;
    int BASE64Decode(const char* text, unsigned char** data, unsigned long* length) override;
    int Process(const unsigned char* request, unsigned long length, unsigned char** result,
                unsigned long* resultLength) override;

private:
    int initialized_ = 0;
    JSWEConnector* connector_ = nullptr;
    IDalsignRPC* rpc_ = nullptr;
    NPIdentifier processDataId_;
};

#endif
