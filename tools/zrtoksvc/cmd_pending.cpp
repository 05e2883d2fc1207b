// Handlers of commands that are not built yet.
#include <cstdio>

#include "commands.h"

namespace zrsvc {

namespace {
int NotBuilt(const char* command) {
    std::fprintf(stderr, "The command \"%s\" is not built yet.\n", command);
    return ST_ERROR;
}
}  // namespace

int DoGenerate(SvcParams&) { return NotBuilt("generate"); }
int DoLoad(SvcParams&) { return NotBuilt("load"); }
int DoUnload(SvcParams&) { return NotBuilt("unload"); }
int DoSetAttr(SvcParams&) { return NotBuilt("set"); }
int DoDelete(SvcParams&, bool, const char*) { return NotBuilt("delete"); }
int DoHash(SvcParams&) { return NotBuilt("hash"); }
int DoEncrypt(SvcParams&) { return NotBuilt("encrypt"); }
int DoDecrypt(SvcParams&) { return NotBuilt("decrypt"); }
int DoSign(SvcParams&) { return NotBuilt("sign"); }
int DoVerify(SvcParams&) { return NotBuilt("verify"); }
int DoInitToken(SvcParams&) { return NotBuilt("initialize"); }
int DoInitUserPin(SvcParams&) { return NotBuilt("initpin"); }
int DoCheckPassword(SvcParams&) { return NotBuilt("passwd"); }
int DoChangePassword(SvcParams&) { return NotBuilt("newpasswd"); }
int DoGetMaxPinTryCount(SvcParams&) { return NotBuilt("get_max_pin_try_count"); }
int DoSetMaxPinTryCount(SvcParams&) { return NotBuilt("set_max_pin_try_count"); }

}  // namespace zrsvc
