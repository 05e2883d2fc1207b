#ifndef SIGN_WEB_NPAPI_NPN_FUNCS_H
#define SIGN_WEB_NPAPI_NPN_FUNCS_H

#include "NPAPI/np_api.h"

// The browser's functions as NP_Initialize copied them; zero until then.
extern "C" NPNetscapeFuncs g_NPNFuncs;

// Calls through g_NPNFuncs; an entry the browser left empty gives null (or does nothing).
void* NPN_MemAlloc(uint32_t size);
NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name);
NPObject* NPN_CreateObject(NPP npp, NPClass* aClass);
NPObject* NPN_RetainObject(NPObject* object);
void NPN_ReleaseObject(NPObject* object);

#endif
