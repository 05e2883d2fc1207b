#include "NPAPI/npn_funcs.h"

void* NPN_MemAlloc(uint32_t size)
{
    return g_NPNFuncs.memalloc ? g_NPNFuncs.memalloc(size) : nullptr;
}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name)
{
    return g_NPNFuncs.getstringidentifier ? g_NPNFuncs.getstringidentifier(name) : nullptr;
}

NPObject* NPN_CreateObject(NPP npp, NPClass* aClass)
{
    return g_NPNFuncs.createobject ? g_NPNFuncs.createobject(npp, aClass) : nullptr;
}

NPObject* NPN_RetainObject(NPObject* object)
{
    return g_NPNFuncs.retainobject && object ? g_NPNFuncs.retainobject(object) : nullptr;
}

void NPN_ReleaseObject(NPObject* object)
{
    if (g_NPNFuncs.releaseobject && object)
        g_NPNFuncs.releaseobject(object);
}
