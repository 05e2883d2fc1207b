// Command handlers: each takes the run's parameters and returns the exit status.
#pragma once

#include "printing.h"
#include "svc_types.h"

namespace zrsvc {

int DoInfo(SvcParams& p);
int DoStatistic(SvcParams& p);
SearchResult DoStatisticLine(SvcParams& p, CK_OBJECT_CLASS objectClass, const char* name, ESearchZone zone);
int DoGenerateRandom(SvcParams& p);
int DoMonotonicNext(SvcParams& p);

int DoList(SvcParams& p);
int DoListKeys(SvcParams& p, EObjectType kind);
int DoListCertificates(SvcParams& p);
int DoListDataObjects(SvcParams& p);
int DoListParams(SvcParams& p);
int DoListMechanisms(SvcParams& p);
int DoListHardwareFeatures(SvcParams& p);

int DoGenerate(SvcParams& p);
int DoLoad(SvcParams& p);
int DoUnload(SvcParams& p);
int DoSetAttr(SvcParams& p);
int DoDelete(SvcParams& p, bool confirm, const char* what);
int DoHash(SvcParams& p);
int DoEncrypt(SvcParams& p);
int DoDecrypt(SvcParams& p);
int DoSign(SvcParams& p);
int DoVerify(SvcParams& p);
int DoInitToken(SvcParams& p);
int DoInitUserPin(SvcParams& p);
int DoCheckPassword(SvcParams& p);
int DoChangePassword(SvcParams& p);
int DoGetMaxPinTryCount(SvcParams& p);
int DoSetMaxPinTryCount(SvcParams& p);

// Shared steps of the handlers.
// Opens the session and tries the user login (PIN_INCORRECT swallowed); the opening status
// (0, 3 or 5); loggedIn tells whether the login succeeded.
int OpenAndTryLogin(SvcParams& p, bool interactive, bool& loggedIn);
// Opens the session and logs in (prompting when the PIN is missing or refused), then seeds.
int OpenAndLogin(SvcParams& p);
// One cycle's end for -t: pause; 9 when control-break was seen.
bool RepeatAfterPause(SvcParams& p, int& status);

}  // namespace zrsvc
