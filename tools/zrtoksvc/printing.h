// Printers of library, slot, token, session and object information.
#pragma once

#include <string>

#include "svc_types.h"

namespace zrsvc {

class LibFinalizer;

enum ESearchZone { SZ_ANY = 0, SZ_PUBLIC = 1, SZ_PRIVATE = 2 };

// A search's outcome: the status (0 or 5) kept apart from the number of objects.
struct SearchResult {
    int status;
    CK_ULONG count;
};

void PrintLibInfo(CK_FUNCTION_LIST_PTR functions);
// 5 slot info failed; 1 no token, token info failed or not initialised; 0 initialised token.
int PrintSlotInfo(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, bool& initialized, bool verbose);
bool TestSessionInfo(CK_FUNCTION_LIST_PTR functions, LibFinalizer& finalizer);
void TestSessionRandom(CK_FUNCTION_LIST_PTR functions, LibFinalizer& finalizer);
SearchResult PrintObjects(CK_FUNCTION_LIST_PTR functions, LibFinalizer& finalizer, const char* title,
                          CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType, const tru::Buffer& id,
                          const std::string& label, const tru::Buffer& subject, const char* kindName,
                          ESearchZone zone, bool longForm);
// Read failures are reported and throw SilentFailure.
void PrintAttributes(LibFinalizer& finalizer, CK_OBJECT_HANDLE object, bool longForm);
std::string GetAttrPrintString(const CK_ATTRIBUTE& attribute);
std::string GetAttrShortPrintString(const CK_ATTRIBUTE& attribute);
std::string GetMechanismFlagsStr(CK_FLAGS flags);
std::string FormatErrorMsg(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends a search whatever happened to it.
class FindGuard {
public:
    FindGuard(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session) : functions_(functions), session_(session) {}
    ~FindGuard() {
        if (active_)
            functions_->C_FindObjectsFinal(session_);
    }
    // The final call's result, once; later the destructor does nothing.
    CK_RV Final() {
        active_ = false;
        return functions_->C_FindObjectsFinal(session_);
    }
    FindGuard(const FindGuard&) = delete;
    FindGuard& operator=(const FindGuard&) = delete;

private:
    CK_FUNCTION_LIST_PTR functions_;
    CK_SESSION_HANDLE session_;
    bool active_ = true;
};

}  // namespace zrsvc
