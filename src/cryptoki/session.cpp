#include "cryptoki/session.h"

#include "cryptoki/slot.h"
#include "cryptoki/token.h"

namespace zrck {

Session::Session(const std::weak_ptr<Token>& token) : mToken(token) {
    TokenPtr strong = mToken.lock();
    if (!strong) throw Exception(CKR_DEVICE_REMOVED);
    mSecondaryOperationAllowed = strong->IsSecondaryOperationAllowed();
    mSlotID = strong->GetSlot()->GetSlotID();
}

Session::~Session() {
    if (IsClosed() && !IsCloseDeferred()) return;
    try {
        // Nobody holds the session any more, so nobody is in a call of it: no call lock to take
        // (the last holder may be a close that runs under later locks).
        TokenPtr token = mToken.lock();
        SessionFrame::Close(token.get());
    } catch (...) {
        // A session going away must not fail.
    }
}

Token* Session::GetOwnerToken() { return mToken.lock().get(); }

bool Session::CouldSeePrivateObjects() const {
    TokenPtr token = mToken.lock();
    return token && token->IsUserLogged();
}

void Session::Close() {
    TokenPtr token = mToken.lock();
    std::lock_guard<CallMutex> call(GetCallMutex());
    SessionFrame::Close(token.get());
}

void Session::FillSessionInfo(CK_SESSION_INFO_PTR info) {
    TokenPtr token = mToken.lock();
    std::lock_guard<CallMutex> call(GetCallMutex());
    ApplyPendingLogout();
    SessionFrame::FillSessionInfo(token.get(), info);
}

CK_STATE Session::GetState() {
    return WithToken([this](Token* token) { return SessionFrame::GetState(token); });
}

void Session::SeedRandom(const tru::Buffer& seed) {
    WithToken([&](Token* token) { SessionFrame::SeedRandom(token, seed); });
}

void Session::GenerateRandom(tru::Buffer& output) {
    WithToken([&](Token* token) { SessionFrame::GenerateRandom(token, output); });
}

}  // namespace zrck
