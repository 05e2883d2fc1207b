// The concrete session: holds its token weakly and keeps it alive for the length of each call,
// so a token pulled from its slot is destroyed at once and later calls fail cleanly.
#ifndef ZR_CRYPTOKI_SESSION_H
#define ZR_CRYPTOKI_SESSION_H

#include <memory>

#include "ckbase/exception.h"
#include "cryptoki/session_frame.h"

namespace zrck {

class Session : public SessionFrame {
public:
    // The token must be alive.
    explicit Session(const std::weak_ptr<Token>& token);
    ~Session() override;

    Token* GetOwnerToken() override;
    TokenPtr LockToken() const override { return mToken.lock(); }
    bool CouldSeePrivateObjects() const override;
    void Close() override;
    void FillSessionInfo(CK_SESSION_INFO_PTR info) override;
    CK_STATE GetState() override;
    void SeedRandom(const tru::Buffer& seed) override;
    void GenerateRandom(tru::Buffer& output) override;

protected:
    // Runs body(token) with the token held and the session's calls serialised; an expired
    // token is CKR_SESSION_CLOSED.
    template <class Body>
    auto WithToken(Body body) -> decltype(body(static_cast<Token*>(nullptr))) {
        return InSession(body);
    }

private:
    std::weak_ptr<Token> mToken;
};

}  // namespace zrck

#endif  // ZR_CRYPTOKI_SESSION_H
