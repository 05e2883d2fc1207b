#include "host/np_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace npdlscp_test {

namespace {

class Stage {
public:
    Stage()
    {
        char pattern[] = "/tmp/npdlscp-stage-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("no stage folder");
        directory_ = pattern;
        Link(NPDLSCP_PATH, "npdlscp.so");
        Link(HCY_PATH, "libhcy.so");
        Link(DLSCPRPC_PATH, "dlscprpc.so");
    }
    ~Stage()
    {
        for (const char* name : {"npdlscp.so", "libhcy.so", "dlscprpc.so", "dlscprpc.so.hidden"})
            unlink((directory_ + "/" + name).c_str());
        rmdir(directory_.c_str());
    }
    const std::string& Directory() const { return directory_; }

private:
    void Link(const char* target, const char* name)
    {
        if (symlink(target, (directory_ + "/" + name).c_str()) != 0)
            throw std::runtime_error(std::string("cannot link ") + name);
    }
    std::string directory_;
};

} // namespace

const std::string& StageDirectory()
{
    static const Stage stage;
    return stage.Directory();
}

std::string StagePath(const char* fileName)
{
    return StageDirectory() + "/" + fileName;
}

std::string CurrentDirectory()
{
    char directory[4096];
    return getcwd(directory, sizeof directory) ? directory : "";
}

bool ServiceLoaded()
{
    void* handle = dlopen(StagePath("dlscprpc.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

DlscprpcTestState ServiceState()
{
    DlscprpcTestState state{};
    void* handle = dlopen(StagePath("dlscprpc.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return state;
    if (auto stateOf = reinterpret_cast<DlscprpcTestStateFunc>(dlsym(handle, "DlscprpcTestStateOf")))
        state = *stateOf();
    dlclose(handle);
    return state;
}

ServiceHidden::ServiceHidden()
{
    std::rename(StagePath("dlscprpc.so").c_str(), StagePath("dlscprpc.so.hidden").c_str());
}

ServiceHidden::~ServiceHidden()
{
    std::rename(StagePath("dlscprpc.so.hidden").c_str(), StagePath("dlscprpc.so").c_str());
}

NpHost* NpHost::current_ = nullptr;

NpHost::NpHost()
{
    if (current_)
        throw std::logic_error("one host at a time");
    library_ = dlopen(StagePath("npdlscp.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_)
        throw std::runtime_error(dlerror());
    current_ = this;
    browser_.size = sizeof browser_;
    browser_.version = 27;
    browser_.memalloc = MemAlloc;
    browser_.memfree = MemFree;
    browser_.getstringidentifier = GetStringIdentifier;
    browser_.identifierisstring = IdentifierIsString;
    browser_.utf8fromidentifier = UTF8FromIdentifier;
    browser_.createobject = CreateObject;
    browser_.retainobject = RetainObject;
    browser_.releaseobject = ReleaseObject;
    browser_.invoke = Invoke;
    browser_.hasmethod = HasMethod;
    browser_.releasevariantvalue = ReleaseVariantValue;
    plugin_.size = sizeof plugin_;
    plugin_.version = 27;
}

NpHost::~NpHost()
{
    if (initialized_)
        reinterpret_cast<NP_ShutdownFunc>(Symbol("NP_Shutdown"))();
    dlclose(library_);
    current_ = nullptr;
}

void* NpHost::Symbol(const char* name) const
{
    return dlsym(library_, name);
}

NPError NpHost::Initialize()
{
    return Initialize(&browser_, &plugin_);
}

NPError NpHost::Initialize(NPNetscapeFuncs* browser, NPPluginFuncs* plugin)
{
    const NPError rc = reinterpret_cast<NP_InitializeFunc>(Symbol("NP_Initialize"))(browser, plugin);
    initialized_ = initialized_ || rc == NPERR_NO_ERROR;
    return rc;
}

NPError NpHost::NewInstance(NPP_t& instance)
{
    static char type[] = "application/x-dalsign-cp";
    instance = NPP_t{};
    return plugin_.newp(type, &instance, 1, 0, nullptr, nullptr, nullptr);
}

NPError NpHost::SetWindow(NPP_t& instance, void* handle)
{
    NPWindow window{};
    window.window = handle;
    window.width = 1;
    window.height = 1;
    window.type = NPWindowTypeWindow;
    return plugin_.setwindow(&instance, &window);
}

NPObject* NpHost::Scriptable(NPP_t& instance)
{
    NPObject* object = nullptr;
    return plugin_.getvalue(&instance, NPPVpluginScriptableNPObject, &object) == NPERR_NO_ERROR
               ? object
               : nullptr;
}

NPError NpHost::Destroy(NPP_t& instance)
{
    return plugin_.destroy(&instance, nullptr);
}

std::optional<std::string> NpHost::Call(NPObject* object, const char* method,
                                        const NPVariant* args, uint32_t argCount)
{
    const NPIdentifier name = Identifier(method);
    NPVariant result{};
    if (!HasMethod(nullptr, object, name) || !Invoke(nullptr, object, name, args, argCount, &result))
        return std::nullopt;
    std::optional<std::string> text;
    if (result.type == NPVariantType_String)
        text.emplace(result.value.stringValue.UTF8Characters, result.value.stringValue.UTF8Length);
    ReleaseVariantValue(&result);
    return text;
}

std::optional<std::string> NpHost::ProcessData(NPObject* object, const std::string& text)
{
    NPVariant arg{};
    arg.type = NPVariantType_String;
    arg.value.stringValue.UTF8Characters = text.data();
    arg.value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
    return Call(object, "ProcessData", &arg, 1);
}

NPObject* NpHost::Retain(NPObject* object)
{
    return RetainObject(object);
}

void NpHost::Release(NPObject* object)
{
    ReleaseObject(object);
}

NPIdentifier NpHost::Identifier(const char* name)
{
    return GetStringIdentifier(name);
}

void* NpHost::MemAlloc(uint32_t size)
{
    if (current_->failMemAlloc_)
        return nullptr;
    void* memory = std::malloc(size ? size : 1);
    if (memory)
        ++current_->liveAllocations_;
    return memory;
}

void NpHost::MemFree(void* memory)
{
    if (!memory)
        return;
    --current_->liveAllocations_;
    std::free(memory);
}

NPIdentifier NpHost::GetStringIdentifier(const NPUTF8* name)
{
    if (!name)
        return nullptr;
    const std::string& stored = *current_->identifiers_.insert(name).first;
    return const_cast<std::string*>(&stored);
}

bool NpHost::IdentifierIsString(NPIdentifier identifier)
{
    return identifier != nullptr;
}

NPUTF8* NpHost::UTF8FromIdentifier(NPIdentifier identifier)
{
    if (!identifier)
        return nullptr;
    const std::string& name = *static_cast<std::string*>(identifier);
    auto* copy = static_cast<NPUTF8*>(MemAlloc(static_cast<uint32_t>(name.size() + 1)));
    if (copy)
        std::memcpy(copy, name.c_str(), name.size() + 1);
    return copy;
}

NPObject* NpHost::CreateObject(NPP npp, NPClass* aClass)
{
    if (!aClass)
        return nullptr;
    NPObject* object = aClass->allocate ? aClass->allocate(npp, aClass)
                                        : static_cast<NPObject*>(std::calloc(1, sizeof(NPObject)));
    if (!object)
        return nullptr;
    object->_class = aClass;
    object->referenceCount = 1;
    ++current_->liveObjects_;
    return object;
}

NPObject* NpHost::RetainObject(NPObject* object)
{
    if (object)
        ++object->referenceCount;
    return object;
}

void NpHost::ReleaseObject(NPObject* object)
{
    if (!object || --object->referenceCount != 0)
        return;
    --current_->liveObjects_;
    if (object->_class->deallocate)
        object->_class->deallocate(object);
    else
        std::free(object);
}

bool NpHost::Invoke(NPP, NPObject* object, NPIdentifier name, const NPVariant* args,
                    uint32_t argCount, NPVariant* result)
{
    return object && object->_class->invoke &&
           object->_class->invoke(object, name, args, argCount, result);
}

bool NpHost::HasMethod(NPP, NPObject* object, NPIdentifier name)
{
    return object && object->_class->hasMethod && object->_class->hasMethod(object, name);
}

void NpHost::ReleaseVariantValue(NPVariant* variant)
{
    if (variant->type == NPVariantType_String)
        MemFree(const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters));
    else if (variant->type == NPVariantType_Object)
        ReleaseObject(variant->value.objectValue);
    *variant = NPVariant{};
}

} // namespace npdlscp_test
