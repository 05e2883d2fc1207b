#include "cryptoki/user.h"

#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"

namespace zrck {

CK_SESSION_HANDLE User::RegisterSession(SessionFrame& session) {
    SessionPtr owned(&session);
    return mSessions.Put(owned, [](SessionFrame& registered, CK_ULONG handle) { registered.SetHandle(handle); });
}

bool User::UnregisterSession(CK_SESSION_HANDLE handle) { return mSessions.Delete(handle); }

bool User::CloseAllSessions() {
    return mSessions.EnumerateToDelete([](SessionFrame&, bool& remove) {
        remove = true;
        return true;
    });
}

SessionPtr User::GetSession(CK_SESSION_HANDLE handle, bool readWriteRequired) {
    SessionPtr session = GetSessionIfExists(handle);
    if (!session) throw Exception(CKR_SESSION_HANDLE_INVALID);
    if (session->IsClosed()) throw Exception(CKR_SESSION_CLOSED);
    if (readWriteRequired && session->IsReadOnly()) throw Exception(CKR_SESSION_READ_ONLY);
    return session;
}

}  // namespace zrck
