#ifndef SIGN_WEB_NPAPI_NP_API_H
#define SIGN_WEB_NPAPI_NP_API_H

// The part of the NPAPI plug-in interface (Unix flavour, 64-bit) that the plug-in and its
// test host use. Only the entries named here are typed; the others keep their place in the
// tables as untyped function pointers.

#include <cstddef>
#include <cstdint>

extern "C" {

typedef unsigned char NPBool;
typedef int16_t NPError;
typedef int16_t NPReason;
typedef char* NPMIMEType;
typedef char NPUTF8;
typedef void* NPIdentifier;

enum : NPError {
    NPERR_NO_ERROR = 0,
    NPERR_GENERIC_ERROR = 1,
    NPERR_INVALID_INSTANCE_ERROR = 2,
    NPERR_INVALID_FUNCTABLE_ERROR = 3,
    NPERR_MODULE_LOAD_FAILED_ERROR = 4,
    NPERR_OUT_OF_MEMORY_ERROR = 5,
    NPERR_INCOMPATIBLE_VERSION_ERROR = 8,
};

// Plug-in values a browser asks for; any int may arrive, hence the fixed underlying type.
enum NPPVariable : int {
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString = 2,
    NPPVpluginScriptableNPObject = 15,
};
enum NPNVariable : int {};

typedef struct _NPP {
    void* pdata; // the plug-in's
    void* ndata; // the browser's
} NPP_t;
typedef NPP_t* NPP;

typedef struct _NPRect {
    uint16_t top, left, bottom, right;
} NPRect;

enum NPWindowType : int { NPWindowTypeWindow = 1, NPWindowTypeDrawable = 2 };

typedef struct _NPWindow {
    void* window; // the native handle
    int32_t x, y;
    uint32_t width, height;
    NPRect clipRect;
    void* ws_info;
    NPWindowType type;
} NPWindow;

typedef struct _NPSavedData {
    int32_t len;
    void* buf;
} NPSavedData;

typedef struct _NPStream {
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
} NPStream;

struct _NPPrint;
typedef struct _NPPrint NPPrint;

// Scripting.
typedef struct NPObject NPObject;
typedef struct NPClass NPClass;

typedef struct _NPString {
    const NPUTF8* UTF8Characters;
    uint32_t UTF8Length; // bytes, no terminator
} NPString;

enum NPVariantType : int {
    NPVariantType_Void = 0,
    NPVariantType_Null = 1,
    NPVariantType_Bool = 2,
    NPVariantType_Int32 = 3,
    NPVariantType_Double = 4,
    NPVariantType_String = 5,
    NPVariantType_Object = 6,
};

typedef struct _NPVariant {
    NPVariantType type;
    union {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject* objectValue;
    } value;
} NPVariant;

typedef NPObject* (*NPAllocateFunctionPtr)(NPP npp, NPClass* aClass);
typedef void (*NPDeallocateFunctionPtr)(NPObject* npobj);
typedef void (*NPInvalidateFunctionPtr)(NPObject* npobj);
typedef bool (*NPHasMethodFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPInvokeFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* args,
                                    uint32_t argCount, NPVariant* result);
typedef bool (*NPInvokeDefaultFunctionPtr)(NPObject* npobj, const NPVariant* args,
                                           uint32_t argCount, NPVariant* result);
typedef bool (*NPHasPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPGetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, NPVariant* result);
typedef bool (*NPSetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name,
                                         const NPVariant* value);
typedef bool (*NPRemovePropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPEnumerationFunctionPtr)(NPObject* npobj, NPIdentifier** value, uint32_t* count);
typedef bool (*NPConstructFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                       NPVariant* result);

struct NPClass {
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

// Filled by the browser's createobject.
struct NPObject {
    NPClass* _class;
    uint32_t referenceCount;
};

// A table entry nobody here calls.
typedef void (*NPAnyFuncPtr)();

// Browser functions, in table order.
typedef struct _NPNetscapeFuncs {
    uint16_t size;
    uint16_t version;
    NPAnyFuncPtr geturl, posturl, requestread, newstream, write, destroystream, status, uagent;
    void* (*memalloc)(uint32_t size);
    void (*memfree)(void* ptr);
    NPAnyFuncPtr memflush, reloadplugins, getJavaEnv, getJavaPeer, geturlnotify, posturlnotify,
        getvalue, setvalue, invalidaterect, invalidateregion, forceredraw;
    NPIdentifier (*getstringidentifier)(const NPUTF8* name);
    NPAnyFuncPtr getstringidentifiers, getintidentifier;
    bool (*identifierisstring)(NPIdentifier identifier);
    NPUTF8* (*utf8fromidentifier)(NPIdentifier identifier);
    NPAnyFuncPtr intfromidentifier;
    NPObject* (*createobject)(NPP npp, NPClass* aClass);
    NPObject* (*retainobject)(NPObject* obj);
    void (*releaseobject)(NPObject* obj);
    bool (*invoke)(NPP npp, NPObject* obj, NPIdentifier name, const NPVariant* args,
                   uint32_t argCount, NPVariant* result);
    NPAnyFuncPtr invokeDefault, evaluate, getproperty, setproperty, removeproperty, hasproperty;
    bool (*hasmethod)(NPP npp, NPObject* obj, NPIdentifier name);
    void (*releasevariantvalue)(NPVariant* variant);
    void (*setexception)(NPObject* obj, const NPUTF8* message);
    NPAnyFuncPtr pushpopupsenabledstate, poppopupsenabledstate, enumerate, pluginthreadasynccall,
        construct, getvalueforurl, setvalueforurl, getauthenticationinfo, scheduletimer,
        unscheduletimer, popupcontextmenu, convertpoint, handleevent, unfocusinstance,
        urlredirectresponse, initasyncsurface, finalizeasyncsurface, setcurrentasyncsurface;
} NPNetscapeFuncs;

typedef NPError (*NPP_NewProcPtr)(NPMIMEType pluginType, NPP instance, uint16_t mode,
                                  int16_t argc, char* argn[], char* argv[], NPSavedData* saved);
typedef NPError (*NPP_DestroyProcPtr)(NPP instance, NPSavedData** save);
typedef NPError (*NPP_SetWindowProcPtr)(NPP instance, NPWindow* window);
typedef NPError (*NPP_NewStreamProcPtr)(NPP instance, NPMIMEType type, NPStream* stream,
                                        NPBool seekable, uint16_t* stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP instance, NPStream* stream, const char* fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP instance, NPStream* stream);
typedef int32_t (*NPP_WriteProcPtr)(NPP instance, NPStream* stream, int32_t offset, int32_t len,
                                    void* buffer);
typedef void (*NPP_PrintProcPtr)(NPP instance, NPPrint* platformPrint);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP instance, void* event);
typedef void (*NPP_URLNotifyProcPtr)(NPP instance, const char* url, NPReason reason,
                                     void* notifyData);
typedef NPError (*NPP_GetValueProcPtr)(NPP instance, NPPVariable variable, void* value);
typedef NPError (*NPP_SetValueProcPtr)(NPP instance, NPNVariable variable, void* value);

// Plug-in functions, in table order.
typedef struct _NPPluginFuncs {
    uint16_t size;
    uint16_t version;
    NPP_NewProcPtr newp;
    NPP_DestroyProcPtr destroy;
    NPP_SetWindowProcPtr setwindow;
    NPP_NewStreamProcPtr newstream;
    NPP_DestroyStreamProcPtr destroystream;
    NPP_StreamAsFileProcPtr asfile;
    NPP_WriteReadyProcPtr writeready;
    NPP_WriteProcPtr write;
    NPP_PrintProcPtr print;
    NPP_HandleEventProcPtr event;
    NPP_URLNotifyProcPtr urlnotify;
    void* javaClass;
    NPP_GetValueProcPtr getvalue;
    NPP_SetValueProcPtr setvalue;
} NPPluginFuncs;

// Library entry points.
typedef NPError (*NP_InitializeFunc)(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs);
typedef NPError (*NP_ShutdownFunc)();
typedef NPError (*NP_GetValueFunc)(void* future, NPPVariable variable, void* value);
typedef const char* (*NP_GetPluginVersionFunc)();
typedef const char* (*NP_GetMIMEDescriptionFunc)();

} // extern "C"

// Sizes a browser announces for these tables on this platform.
static_assert(sizeof(NPNetscapeFuncs) == 472, "browser table: size, version, 58 functions");
static_assert(offsetof(NPNetscapeFuncs, setexception) == 320, "setexception is entry 40");
static_assert(sizeof(NPPluginFuncs) == 120, "plug-in table: size, version, 14 entries");
static_assert(sizeof(NPVariant) == 24, "type, then a 16-byte value");

#endif
