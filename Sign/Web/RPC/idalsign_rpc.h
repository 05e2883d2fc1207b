#ifndef SIGN_WEB_RPC_IDALSIGN_RPC_H
#define SIGN_WEB_RPC_IDALSIGN_RPC_H

// The signing service's interface, used by slot position. Integer results: non-zero is
// success (Finalize's is not looked at). Memory the service hands out goes back through
// FreeMemory.
class IDalsignRPC {
public:
    virtual int Finalize() = 0;
    virtual void FreeMemory(void* memory) = 0;
    virtual int BASE64IsValid(const char* text) = 0;
    virtual int BASE64Encode(const unsigned char* data, unsigned long length, char** text) = 0;
    virtual int BASE64Decode(const char* text, unsigned char** data, unsigned long* length) = 0;
    virtual void Reserved5() = 0; // never called
    virtual int Initialize() = 0;
    virtual void Reserved7() = 0; // never called
    // The two leading integers are always 1 and 1.
    virtual int Process(int channel, int flags, const unsigned char* request,
                        unsigned long length, unsigned char** result,
                        unsigned long* resultLength) = 0;

protected:
    // The service owns its interface; it is never deleted through it.
    ~IDalsignRPC() = default;
};

extern "C" {
// The service library's export.
typedef int (*DalsignRPCGetInterfaceFunc)(IDalsignRPC** rpc);
}

#endif
