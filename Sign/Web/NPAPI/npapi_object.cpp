#include "NPAPI/npapi_object.h"

namespace {

NPAPIObject* Wrapper(NPObject* object)
{
    return static_cast<NPAPIObject*>(object);
}

} // namespace

bool NPAPIObject::HasMethod(NPIdentifier)
{
    return false;
}

bool NPAPIObject::Invoke(NPIdentifier, const NPVariant*, uint32_t, NPVariant*)
{
    return false;
}

bool NPAPIObject::InvokeDefault(const NPVariant*, uint32_t, NPVariant*)
{
    return false;
}

bool NPAPIObject::HasProperty(NPIdentifier)
{
    return false;
}

bool NPAPIObject::GetProperty(NPIdentifier, NPVariant*)
{
    return false;
}

bool NPAPIObject::SetProperty(NPIdentifier, const NPVariant*)
{
    return false;
}

bool NPAPIObject::RemoveProperty(NPIdentifier)
{
    return false;
}

bool NPAPIObject::Enumerate(NPIdentifier**, uint32_t*)
{
    return false;
}

bool NPAPIObject::Construct(const NPVariant*, uint32_t, NPVariant*)
{
    return false;
}

void NPAPIObject::_Deallocate(NPObject* object)
{
    if (object)
        delete Wrapper(object);
}

void NPAPIObject::_Invalidate(NPObject* object)
{
    if (object)
        Wrapper(object)->Invalidate();
}

bool NPAPIObject::_HasMethod(NPObject* object, NPIdentifier name)
{
    return object && Wrapper(object)->HasMethod(name);
}

bool NPAPIObject::_Invoke(NPObject* object, NPIdentifier name, const NPVariant* args,
                          uint32_t argCount, NPVariant* result)
{
    return object && Wrapper(object)->Invoke(name, args, argCount, result);
}

bool NPAPIObject::_InvokeDefault(NPObject* object, const NPVariant* args, uint32_t argCount,
                                 NPVariant* result)
{
    return object && Wrapper(object)->InvokeDefault(args, argCount, result);
}

bool NPAPIObject::_HasProperty(NPObject* object, NPIdentifier name)
{
    return object && Wrapper(object)->HasProperty(name);
}

bool NPAPIObject::_GetProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    return object && Wrapper(object)->GetProperty(name, result);
}

bool NPAPIObject::_SetProperty(NPObject* object, NPIdentifier name, const NPVariant* value)
{
    return object && Wrapper(object)->SetProperty(name, value);
}

bool NPAPIObject::_RemoveProperty(NPObject* object, NPIdentifier name)
{
    return object && Wrapper(object)->RemoveProperty(name);
}

bool NPAPIObject::_Enumerate(NPObject* object, NPIdentifier** value, uint32_t* count)
{
    return object && Wrapper(object)->Enumerate(value, count);
}

bool NPAPIObject::_Construct(NPObject* object, const NPVariant* args, uint32_t argCount,
                             NPVariant* result)
{
    return object && Wrapper(object)->Construct(args, argCount, result);
}
