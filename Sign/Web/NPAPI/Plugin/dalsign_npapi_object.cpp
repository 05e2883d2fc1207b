#include "NPAPI/Plugin/dalsign_npapi_object.h"

#include "Extension/Common/jswe_connector.h"
#include "NPAPI/Plugin/dalsign_npapi_plugin.h"
#include "NPAPI/Plugin/module_directory.h"
#include "NPAPI/npn_funcs.h"
#include "RPC/dalsign_rpc.h"

#include <cstring>
#include <new>

namespace {

constexpr char kModuleName[] = "npdlscp.so";
constexpr char kProcessDataMethod[] = "ProcessData";
constexpr unsigned long kMaxResponseBufferSize = 0x100000;
// The service's Process takes two leading integers, always these.
constexpr int kProcessChannel = 1;
constexpr int kProcessFlags = 1;

} // namespace

DalsignNPAPIObject::DalsignNPAPIObject(NPP npp)
    : NPAPIObject(npp), processDataId_(NPN_GetStringIdentifier(kProcessDataMethod))
{
}

DalsignNPAPIObject::~DalsignNPAPIObject()
{
    Finalize();
}

NPObject* DalsignNPAPIObject::AllocateObject(NPP npp, NPClass*)
{
    return new (std::nothrow) DalsignNPAPIObject(npp);
}

bool DalsignNPAPIObject::HasMethod(NPIdentifier name)
{
    return processDataId_ && name == processDataId_;
}

bool DalsignNPAPIObject::Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                NPVariant* result)
{
    return HasMethod(name) && ProcessData(args, argCount, result);
}

bool DalsignNPAPIObject::ProcessData(const NPVariant* args, uint32_t argCount, NPVariant* result)
{
    if (argCount != 1 || !args || args[0].type != NPVariantType_String || !result)
        return false;
    const NPString& text = args[0].value.stringValue;
    if (!text.UTF8Characters && text.UTF8Length != 0)
        return false;
    if (!Initialize())
        return false;
    const unsigned char* reply = nullptr;
    unsigned long replyLength = 0;
    connector_->HandleMessage(reinterpret_cast<const unsigned char*>(text.UTF8Characters),
                              text.UTF8Length, &reply, &replyLength);
    auto* copy = static_cast<char*>(NPN_MemAlloc(static_cast<uint32_t>(replyLength + 1)));
    if (!copy) {
        // The page cannot get this reply, so it could never ask for the rest either.
        connector_->Reset();
        return false;
    }
    if (replyLength != 0)
        std::memcpy(copy, reply, replyLength);
    copy[replyLength] = '\0';
    result->type = NPVariantType_String;
    result->value.stringValue.UTF8Characters = copy;
    result->value.stringValue.UTF8Length = static_cast<uint32_t>(std::strlen(copy));
    return true;
}

int DalsignNPAPIObject::Initialize()
{
    if (initialized_)
        return 1;
    ModuleDirectoryScope directory(kModuleName);
    if (!DalsignRPCLoad())
        return 0;
    if (DalsignRPCGetInterface(&rpc_) && rpc_ && rpc_->Initialize()) {
        connector_ = new (std::nothrow) JSWEConnector();
        if (connector_ && connector_->Initialize(this)) {
            initialized_ = 1;
            return 1;
        }
    }
    directory.Restore();
    delete connector_;
    connector_ = nullptr;
    if (rpc_)
        rpc_->Finalize();
    rpc_ = nullptr;
    DalsignRPCUnload();
    return 0;
}

void DalsignNPAPIObject::Finalize()
{
    if (!initialized_)
        return;
    // The connector hands a pending result back to the service, so it goes first.
    delete connector_;
    connector_ = nullptr;
    rpc_->Finalize();
    rpc_ = nullptr;
    DalsignRPCUnload();
    initialized_ = 0;
}

void DalsignNPAPIObject::FreeMemory(void* memory)
{
    if (rpc_)
        rpc_->FreeMemory(memory);
}

const char* DalsignNPAPIObject::GetAppVersion()
{
    return kDalsignPluginVersion;
}

unsigned long DalsignNPAPIObject::GetMaxResponseBufferSize()
{
    return kMaxResponseBufferSize;
}

int DalsignNPAPIObject::BASE64IsValid(const char* text)
{
    return rpc_ ? rpc_->BASE64IsValid(text) : 0;
}

int DalsignNPAPIObject::BASE64Encode(const unsigned char* data, unsigned long length, char** text)
{
    return rpc_ ? rpc_->BASE64Encode(data, length, text) : 0;
}

int DalsignNPAPIObject::BASE64Decode(const char* text, unsigned char** data,
                                     unsigned long* length)
{
    return rpc_ ? rpc_->BASE64Decode(text, data, length) : 0;
}

int DalsignNPAPIObject::Process(const unsigned char* request, unsigned long length,
                                unsigned char** result, unsigned long* resultLength)
{
    return rpc_ ? rpc_->Process(kProcessChannel, kProcessFlags, request, length, result,
                                resultLength)
                : 0;
}
