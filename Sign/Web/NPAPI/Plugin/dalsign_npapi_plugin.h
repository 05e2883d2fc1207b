#ifndef SIGN_WEB_NPAPI_PLUGIN_DALSIGN_NPAPI_PLUGIN_H
#define SIGN_WEB_NPAPI_PLUGIN_DALSIGN_NPAPI_PLUGIN_H

#include "NPAPI/np_api.h"

// What the browser is told about the plug-in. Name and description are Windows-1251 bytes.
extern const char kDalsignPluginVersion[];
extern const char kDalsignMIMEDescription[];
extern const char kDalsignPluginName[];
extern const char kDalsignPluginDescription[];

// The name or description text for those two variables; null for any other.
const char* DalsignPluginText(NPPVariable variable);
// The class of the one scriptable object an instance offers.
NPClass* DalsignScriptableClass();

#endif
