// Command handlers: each takes the run's parameters and returns the exit status.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "converters.h"
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
// Opens the session and logs in (asking for a PIN as OpenSessionAndLoginInt does when
// interactive), then seeds; a refused login ends the command with status 5, a missing PIN with 1.
int OpenAndLogin(SvcParams& p, bool interactive = true);
// One cycle's end for -t: pause; 9 when control-break was seen.
bool RepeatAfterPause(SvcParams& p, int& status);
// A listing cycle's end: -s report, close, control-break, -t pause; true to run again.
bool EndCycle(SvcParams& p, int& status);
// A session for "random" and "next": without login when the token needs none and no PIN
// is given, else with a login try. The opening status.
int OpenForRandom(SvcParams& p, bool interactive);
// "Done in" (unless -q) and the -s report after a timed creation.
int FinishTimed(SvcParams& p, const vdk::TimeCounter& watch);
// "Error: Unknown type "<-type word>"" on standard error; ST_ERROR.
int UnknownType(const SvcParams& p);
// "Error: Unknown key type" on standard error; ST_ERROR.
int UnknownKeyType();
// The message on standard error, then the command ends with status 1 (before the token is touched
// when called first).
[[noreturn]] void Refuse(const char* message);
// Reports the failed call and ends the command with status 5 through the normal clean-up.
[[noreturn]] void FailCk(const char* function, CK_RV rv);
// Search template whose values live as long as the object.
class Search {
public:
    void Add(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length);
    void AddULong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);
    void AddBool(CK_ATTRIBUTE_TYPE type, bool value);
    // -id, -label and -subject, each when given (-id as CKA_OBJECT_ID for data objects).
    void AddIdLabelSubject(const SvcParams& p, bool data = false);
    CK_ATTRIBUTE* Data() { return attributes_.data(); }
    CK_ULONG Count() const { return attributes_.size(); }
    bool Empty() const { return attributes_.empty(); }

private:
    std::vector<CK_ATTRIBUTE> attributes_;
    std::list<std::string> values_;
};
// A template of fixed room for objects to create; values live as long as the object.
class ObjectTemplate {
public:
    explicit ObjectTemplate(CK_ULONG room) : entries_(room) {}
    void Add(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length);
    void AddULong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);
    void AddBool(CK_ATTRIBUTE_TYPE type, bool value);
    void AddBytes(CK_ATTRIBUTE_TYPE type, const tru::Buffer& bytes) { Add(type, bytes.Data(), bytes.Size()); }
    // -attr into the room left (AddAttr's checks apply).
    void AddExtra(const std::string& attr);
    CK_ATTRIBUTE* Data() { return entries_.data(); }
    CK_ULONG Count() const { return count_; }

private:
    std::vector<CK_ATTRIBUTE> entries_;
    std::list<CK_ULONG> numbers_;
    CK_ULONG count_ = 0;
};
// Every matching handle (searched to the end; the search is always ended).
std::vector<CK_OBJECT_HANDLE> FindAll(SvcParams& p, Search& search, CK_ULONG room = 100);
// The one key of the class matching -id, -label and -subject: "Key not found" or
// "Too many keys found" end the command with status 1.
CK_OBJECT_HANDLE FindOneKey(SvcParams& p, CK_OBJECT_CLASS keyClass);
CK_ULONG ReadULong(SvcParams& p, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type);
// The whole file; the result-code exception with the text and the file name on failure.
void LoadFile(const std::string& path, tru::BufferDynamic& into, const char* text);
// Writes a file that holds a secret: mode 0600 (also when it existed), never through a symbolic
// link; the result-code exception naming the file on failure.
void SaveSecretFile(const std::string& path, const tru::Buffer& bytes);
// Writes an ordinary output file; the result-code exception naming the file on failure.
void SaveFile(const std::string& path, const tru::Buffer& bytes);

}  // namespace zrsvc
