#ifndef SIGN_WEB_RPC_DALSIGN_RPC_H
#define SIGN_WEB_RPC_DALSIGN_RPC_H

#include "RPC/idalsign_rpc.h"

// Process-wide, counted load of the signing service library "dlscprpc.so": several plug-in
// instances share one load, freed when the last of them unloads. Plug-in thread only.
extern "C" {
// 1 when the library is loaded (or already was) and its export found.
int DalsignRPCLoad();
void DalsignRPCUnload();
// Non-zero with the interface filled in; 0 when the library is not loaded.
int DalsignRPCGetInterface(IDalsignRPC** rpc);
}

#endif
