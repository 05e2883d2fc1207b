// The instance callbacks the browser finds in the plug-in table (also exported by name).

#include "NPAPI/Plugin/dalsign_npapi_plugin.h"
#include "NPAPI/np_api.h"
#include "NPAPI/npapi_plugin.h"
#include "NPAPI/npp_gate.h"

#include <new>

namespace {

// Stream callbacks accept whatever they are given and do nothing with it.
constexpr int32_t kWriteReadyAny = 0x0FFFFFFF;

NPAPIPlugin* PluginOf(NPP instance)
{
    return static_cast<NPAPIPlugin*>(instance->pdata);
}

} // namespace

extern "C" {

NPError NPP_New(NPMIMEType, NPP instance, uint16_t, int16_t, char*[], char*[], NPSavedData*)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    auto* plugin = new (std::nothrow) NPAPIPlugin(instance);
    if (!plugin)
        return NPERR_OUT_OF_MEMORY_ERROR;
    instance->pdata = plugin;
    return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData**)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    NPAPIPlugin* plugin = PluginOf(instance);
    if (!plugin)
        return NPERR_GENERIC_ERROR;
    NPAPIPlugin::Destroy(plugin);
    instance->pdata = nullptr;
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    NPAPIPlugin* plugin = PluginOf(instance);
    if (!plugin || !window)
        return NPERR_GENERIC_ERROR;
    if (plugin->IsInitialized() || !window->window)
        return NPERR_NO_ERROR;
    if (plugin->Initialize(window))
        return NPERR_NO_ERROR;
    NPAPIPlugin::Destroy(plugin);
    instance->pdata = nullptr;
    return NPERR_MODULE_LOAD_FAILED_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType, NPStream*, NPBool, uint16_t*)
{
    return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

NPError NPP_DestroyStream(NPP instance, NPStream*, NPReason)
{
    return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

void NPP_StreamAsFile(NPP, NPStream*, const char*) {}

int32_t NPP_WriteReady(NPP instance, NPStream*)
{
    return instance ? kWriteReadyAny : 0;
}

int32_t NPP_Write(NPP, NPStream*, int32_t, int32_t, void*)
{
    return -1;
}

void NPP_Print(NPP, NPPrint*) {}

int16_t NPP_HandleEvent(NPP instance, void* event)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    NPAPIPlugin* plugin = PluginOf(instance);
    if (!plugin)
        return NPERR_GENERIC_ERROR;
    return plugin->HandleEvent(event) ? 1 : 0;
}

void NPP_URLNotify(NPP, const char*, NPReason, void*) {}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    NPAPIPlugin* plugin = PluginOf(instance);
    if (!plugin || !value)
        return NPERR_GENERIC_ERROR;
    if (variable == NPPVpluginScriptableNPObject)
        return plugin->GetScriptableObject(static_cast<NPObject**>(value))
                   ? NPERR_NO_ERROR
                   : NPERR_OUT_OF_MEMORY_ERROR;
    const char* text = DalsignPluginText(variable);
    if (!text)
        return NPERR_GENERIC_ERROR;
    *static_cast<const char**>(value) = text;
    return NPERR_NO_ERROR;
}

NPError NPP_SetValue(NPP instance, NPNVariable, void*)
{
    return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

NPObject* NPP_GetScriptableInstance(NPP instance)
{
    if (!instance || !PluginOf(instance))
        return nullptr;
    NPObject* object = nullptr;
    return PluginOf(instance)->GetScriptableObject(&object) ? object : nullptr;
}

const char* NPP_GetMIMEDescription()
{
    return kDalsignMIMEDescription;
}

const char* NPP_GetPluginVersion()
{
    return kDalsignPluginVersion;
}

} // extern "C"
