#include "NPAPI/npapi_plugin.h"

#include "NPAPI/Plugin/dalsign_npapi_plugin.h"
#include "NPAPI/npn_funcs.h"

NPAPIPlugin::~NPAPIPlugin()
{
    NPN_ReleaseObject(object_);
}

bool NPAPIPlugin::Initialize(NPWindow*)
{
    initialized_ = true;
    return true;
}

bool NPAPIPlugin::HandleEvent(void*)
{
    return true;
}

bool NPAPIPlugin::GetScriptableObject(NPObject** object)
{
    if (!object)
        return false;
    if (!object_)
        object_ = NPN_CreateObject(npp_, DalsignScriptableClass());
    if (!object_)
        return false;
    *object = NPN_RetainObject(object_);
    return *object != nullptr;
}

void NPAPIPlugin::Destroy(NPAPIPlugin* plugin)
{
    delete plugin;
}
