#include "RPC/dalsign_rpc.h"

#include "hcy/hcy.h"

namespace {

constexpr char kServiceLibrary[] = "dlscprpc.so";
constexpr char kInterfaceExport[] = "DalsignRPCGetInterface";

void* g_library = nullptr;
int g_loadCount = 0;
DalsignRPCGetInterfaceFunc g_getInterface = nullptr;

} // namespace

extern "C" int DalsignRPCLoad()
{
    if (!g_library) {
        void* library = hcy::LoadLibrary(kServiceLibrary);
        if (!library)
            return 0;
        void* address = hcy::GetProcAddress(library, kInterfaceExport);
        if (!address) {
            hcy::FreeLibrary(library);
            return 0;
        }
        g_library = library;
        g_getInterface = reinterpret_cast<DalsignRPCGetInterfaceFunc>(address);
    }
    ++g_loadCount;
    return 1;
}

extern "C" void DalsignRPCUnload()
{
    if (!g_library)
        return;
    if (--g_loadCount > 0)
        return;
    hcy::FreeLibrary(g_library);
    g_library = nullptr;
    g_getInterface = nullptr;
    g_loadCount = 0;
}

extern "C" int DalsignRPCGetInterface(IDalsignRPC** rpc)
{
    if (!g_library || !g_getInterface || !rpc)
        return 0;
    return g_getInterface(rpc);
}
