// The library's NP_ entry points.

#include "NPAPI/Plugin/dalsign_npapi_plugin.h"
#include "NPAPI/np_api.h"
#include "NPAPI/npn_funcs.h"
#include "NPAPI/npp_gate.h"

#include <cstring>

extern "C" {

NPNetscapeFuncs g_NPNFuncs;

NPError NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs)
{
    if (!browserFuncs)
        return NPERR_INVALID_FUNCTABLE_ERROR;
    if ((browserFuncs->version >> 8) != 0)
        return NPERR_INCOMPATIBLE_VERSION_ERROR;
    if (browserFuncs->size < sizeof(NPNetscapeFuncs))
        return NPERR_INVALID_FUNCTABLE_ERROR;
    // Size, version and the entries geturl to setexception; the later ones stay zero.
    std::memcpy(&g_NPNFuncs, browserFuncs,
                offsetof(NPNetscapeFuncs, setexception) + sizeof g_NPNFuncs.setexception);
    if (!pluginFuncs || pluginFuncs->size < sizeof(NPPluginFuncs))
        return NPERR_INVALID_FUNCTABLE_ERROR;
    pluginFuncs->newp = NPP_New;
    pluginFuncs->destroy = NPP_Destroy;
    pluginFuncs->setwindow = NPP_SetWindow;
    pluginFuncs->newstream = NPP_NewStream;
    pluginFuncs->destroystream = NPP_DestroyStream;
    pluginFuncs->asfile = NPP_StreamAsFile;
    pluginFuncs->writeready = NPP_WriteReady;
    pluginFuncs->write = NPP_Write;
    pluginFuncs->print = NPP_Print;
    pluginFuncs->event = NPP_HandleEvent;
    pluginFuncs->urlnotify = NPP_URLNotify;
    pluginFuncs->getvalue = NPP_GetValue;
    pluginFuncs->setvalue = NPP_SetValue;
    return NPERR_NO_ERROR;
}

NPError NP_Shutdown()
{
    return NPERR_NO_ERROR;
}

NPError NP_GetValue(void*, NPPVariable variable, void* value)
{
    // Only the texts can be had without an instance.
    const char* text = DalsignPluginText(variable);
    if (!text)
        return NPERR_INVALID_INSTANCE_ERROR;
    if (!value)
        return NPERR_GENERIC_ERROR;
    *static_cast<const char**>(value) = text;
    return NPERR_NO_ERROR;
}

const char* NP_GetPluginVersion()
{
    return NPP_GetPluginVersion();
}

const char* NP_GetMIMEDescription()
{
    return NPP_GetMIMEDescription();
}

} // extern "C"
