// The session registry: issues every session handle of the library and owns the sessions.
// (Not the PKCS#11 user: login state lives in the token.)
#ifndef ZR_CRYPTOKI_USER_H
#define ZR_CRYPTOKI_USER_H

#include <functional>

#include "cryptoki/framework_types.h"
#include "cryptoki/object_holder.h"
#include "support/noncopyable.h"

namespace zrck {

class UserFrame {
public:
    using SessionCallback = std::function<bool(SessionFrame&)>;

    virtual ~UserFrame() = default;
    // Takes ownership; the handle is written into the session before others can find it.
    virtual CK_SESSION_HANDLE RegisterSession(SessionFrame& session) = 0;
    virtual bool UnregisterSession(CK_SESSION_HANDLE handle) = 0;
    virtual bool CloseAllSessions() = 0;
    virtual CK_ULONG GetSessionCount() = 0;
    // Shared ownership keeps the session alive for the whole call.
    virtual SessionPtr GetSessionIfExists(CK_SESSION_HANDLE handle) = 0;
    // Throws CKR_SESSION_HANDLE_INVALID, CKR_SESSION_CLOSED or CKR_SESSION_READ_ONLY.
    virtual SessionPtr GetSession(CK_SESSION_HANDLE handle, bool readWriteRequired) = 0;
    virtual bool EnumerateSessions(const SessionCallback& callback) = 0;
    // Every registered session, for work that must not run under the registry lock.
    virtual std::vector<SessionPtr> GetAllSessions() = 0;
};

class User : public UserFrame, vdk::Noncopyable {
public:
    CK_SESSION_HANDLE RegisterSession(SessionFrame& session) override;
    bool UnregisterSession(CK_SESSION_HANDLE handle) override;
    bool CloseAllSessions() override;
    CK_ULONG GetSessionCount() override { return mSessions.GetCount(); }
    SessionPtr GetSessionIfExists(CK_SESSION_HANDLE handle) override { return mSessions.GetIfExists(handle); }
    SessionPtr GetSession(CK_SESSION_HANDLE handle, bool readWriteRequired) override;
    bool EnumerateSessions(const SessionCallback& callback) override { return mSessions.Enumerate(callback); }
    std::vector<SessionPtr> GetAllSessions() override { return mSessions.Snapshot(); }

private:
    ObjectHolderSynchronized<SessionFrame> mSessions;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_USER_H
