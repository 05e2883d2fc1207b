#ifndef SIGN_WEB_NPAPI_NPAPI_PLUGIN_H
#define SIGN_WEB_NPAPI_NPAPI_PLUGIN_H

#include "NPAPI/np_api.h"

// One plug-in instance, kept in the instance's pdata. It draws nothing; it holds the
// scriptable object that page script reaches.
class NPAPIPlugin {
public:
    explicit NPAPIPlugin(NPP npp) : npp_(npp) {}
    NPAPIPlugin(const NPAPIPlugin&) = delete;
    NPAPIPlugin& operator=(const NPAPIPlugin&) = delete;
    // Drops the instance's own reference to the scriptable object.
    ~NPAPIPlugin();

    // The window is not used.
    bool Initialize(NPWindow* window);
    bool IsInitialized() const { return initialized_; }
    bool HandleEvent(void* event);
    // Creates the object on first use; hands out one new reference each time.
    bool GetScriptableObject(NPObject** object);

    static void Destroy(NPAPIPlugin* plugin);

private:
    NPP npp_;
    bool initialized_ = false;
    NPObject* object_ = nullptr;
};

#endif
