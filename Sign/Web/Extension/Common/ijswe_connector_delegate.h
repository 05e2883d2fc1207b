#ifndef SIGN_WEB_EXTENSION_COMMON_IJSWE_CONNECTOR_DELEGATE_H
#define SIGN_WEB_EXTENSION_COMMON_IJSWE_CONNECTOR_DELEGATE_H

// What the connector needs from its owner. Integer results: non-zero is success.
// Memory handed out by BASE64Encode, BASE64Decode and Process goes back through FreeMemory.
class IJSWEConnectorDelegate {
public:
    virtual void FreeMemory(void* memory) = 0;
    virtual const char* GetAppVersion() = 0;
    virtual unsigned long GetMaxResponseBufferSize() = 0;
    virtual int BASE64IsValid(const char* text) = 0;
    // The text is zero-terminated.
    virtual int BASE64Encode(const unsigned char* data, unsigned long length, char** text) = 0;
    virtual int BASE64Decode(const char* text, unsigned char** data, unsigned long* length) = 0;
    virtual int Process(const unsigned char* request, unsigned long length, unsigned char** result,
                        unsigned long* resultLength) = 0;

protected:
    // Never deleted through this interface.
    ~IJSWEConnectorDelegate() = default;
};

#endif
