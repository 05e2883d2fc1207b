#include "NPAPI/Plugin/dalsign_npapi_plugin.h"

#include "NPAPI/Plugin/dalsign_npapi_object.h"

const char kDalsignPluginVersion[] = "1.3.1.3";
const char kDalsignMIMEDescription[] =
    "application/x-dalsign-cp:dlscp:Verit End User Kesvar-1. Sign library (web)";
const char kDalsignPluginName[] =
    "Verit \xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7 Kesvar-1. "
    "\xC1\xB3\xE1\xEB\xB3\xEE\xF2\xE5\xEA\xE0 \xEF\xB3\xE4\xEF\xE8\xF1\xF3 (NPAPI)";
const char kDalsignPluginDescription[] =
    "NPAPI-\xE1\xB3\xE1\xEB\xB3\xEE\xF2\xE5\xEA\xE0 \xEF\xB3\xE4\xEF\xE8\xF1\xF3 "
    "\xEA\xEE\xF0\xF1\xE8\xF2\xF3\xE2\xE0\xF7\xE0 Kesvar";

namespace {

NPClass g_scriptableClass = NPAPIObject::MakeClass(&DalsignNPAPIObject::AllocateObject);

} // namespace

const char* DalsignPluginText(NPPVariable variable)
{
    switch (variable) {
    case NPPVpluginNameString:
        return kDalsignPluginName;
    case NPPVpluginDescriptionString:
        return kDalsignPluginDescription;
    default:
        return nullptr;
    }
}

NPClass* DalsignScriptableClass()
{
    return &g_scriptableClass;
}
