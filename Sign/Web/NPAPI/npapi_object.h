#ifndef SIGN_WEB_NPAPI_NPAPI_OBJECT_H
#define SIGN_WEB_NPAPI_NPAPI_OBJECT_H

#include "NPAPI/np_api.h"

// A scriptable object as a C++ class: the browser holds a pointer to the NPObject base, and
// the NPClass statics turn it back into the wrapper and call the virtual operation of the
// same name. Every operation answers false unless a subclass says otherwise.
class NPAPIObject : public NPObject {
public:
    explicit NPAPIObject(NPP npp) : NPObject(), npp_(npp) {}
    NPAPIObject(const NPAPIObject&) = delete;
    NPAPIObject& operator=(const NPAPIObject&) = delete;
    virtual ~NPAPIObject() = default;

    virtual void Invalidate() {}
    virtual bool HasMethod(NPIdentifier name);
    virtual bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                        NPVariant* result);
    virtual bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result);
    virtual bool HasProperty(NPIdentifier name);
    virtual bool GetProperty(NPIdentifier name, NPVariant* result);
    virtual bool SetProperty(NPIdentifier name, const NPVariant* value);
    virtual bool RemoveProperty(NPIdentifier name);
    virtual bool Enumerate(NPIdentifier** value, uint32_t* count);
    virtual bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result);

    // A class whose operations reach the wrapper, objects made by the given allocate.
    static constexpr NPClass MakeClass(NPAllocateFunctionPtr allocate)
    {
        return NPClass{3,           allocate,         _Deallocate,  _Invalidate,
                       _HasMethod,  _Invoke,          _InvokeDefault, _HasProperty,
                       _GetProperty, _SetProperty,    _RemoveProperty, _Enumerate,
                       _Construct};
    }

    static void _Deallocate(NPObject* object);
    static void _Invalidate(NPObject* object);
    static bool _HasMethod(NPObject* object, NPIdentifier name);
    static bool _Invoke(NPObject* object, NPIdentifier name, const NPVariant* args,
                        uint32_t argCount, NPVariant* result);
    static bool _InvokeDefault(NPObject* object, const NPVariant* args, uint32_t argCount,
                               NPVariant* result);
    static bool _HasProperty(NPObject* object, NPIdentifier name);
    static bool _GetProperty(NPObject* object, NPIdentifier name, NPVariant* result);
    static bool _SetProperty(NPObject* object, NPIdentifier name, const NPVariant* value);
    static bool _RemoveProperty(NPObject* object, NPIdentifier name);
    static bool _Enumerate(NPObject* object, NPIdentifier** value, uint32_t* count);
    static bool _Construct(NPObject* object, const NPVariant* args, uint32_t argCount,
                           NPVariant* result);

protected:
    NPP GetNPP() const { return npp_; }

private:
    NPP npp_;
};

#endif
