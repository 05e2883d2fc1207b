// The session's cryptographic operations: initialisations check what may run beside the
// current operation, the key's class, usage and mechanisms; data calls run under the
// operation guard and keep or end the operation.
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "cryptoki/token.h"
#include "objects/tok_key.h"
#include "objects/tok_mechanism.h"

namespace zrck {

namespace {

// Whether an operation of the kind may start beside a primary operation of another kind.
bool MayStartBeside(CryptoStateEnum kind, CryptoStateEnum primary) {
    switch (kind) {
        case CRYPTO_STATE_ENCRYPT:
        case CRYPTO_STATE_DECRYPT:
            return primary == CRYPTO_STATE_SIGN || primary == CRYPTO_STATE_VERIFY || primary == CRYPTO_STATE_DIGEST;
        case CRYPTO_STATE_SIGN:
        case CRYPTO_STATE_VERIFY:
        case CRYPTO_STATE_DIGEST:
            return primary == CRYPTO_STATE_ENCRYPT || primary == CRYPTO_STATE_DECRYPT;
        default:
            return false;
    }
}

template <class Key>
Key& KeyAs(TokKey& key) {
    auto* typed = dynamic_cast<Key*>(&key);
    if (typed == nullptr) throw Exception(CKR_KEY_TYPE_INCONSISTENT);
    return *typed;
}

void RequireUsage(CK_BBOOL allowed) {
    if (!allowed) throw Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
}

// The keys of a data call are checked in the token transaction of the commands it sends; a call
// that gives a result computed with them (a signature, output data, a verification) is checked
// even when it sends none, a length answer or a part fed in only when it sends one.
Token::ObjectUse KeyUseFor(bool result) {
    return result ? Token::ObjectUse::BeforeItsCommands : Token::ObjectUse::ItsCommands;
}

}  // namespace

TokMechanism* SessionFrame::InitMechanism(Token* token, CryptoStateEnum kind, CK_MECHANISM_TYPE type) {
    if (mPrimary.InUse() &&
        (!mSecondaryOperationAllowed || mSecondary.InUse() || !MayStartBeside(kind, mPrimary.kind))) {
        throw Exception(CKR_OPERATION_ACTIVE);
    }
    return FindMechanism(token, type);
}

// Picks the mechanism initialisation for the key's class; a class the kind does not take
// is CKR_KEY_TYPE_INCONSISTENT, a usage flag that is off CKR_KEY_FUNCTION_NOT_PERMITTED.
// A started signature or decryption with a key that asks for it waits for the
// context-specific login.
void SessionFrame::StartKeyOperation(CryptoStateEnum kind, TokMechanism& mechanism, const MechanismParameter& parameter,
                                     TokKey& key) {
    const CK_OBJECT_CLASS keyClass = key.GetClass();
    bool needsLogin = false;
    if (keyClass == CKO_PRIVATE_KEY && (kind == CRYPTO_STATE_DECRYPT || kind == CRYPTO_STATE_SIGN ||
                                        kind == CRYPTO_STATE_SIGN_RECOVER)) {
        needsLogin = KeyAs<TokPrivateKey>(key).GetNeedAlwaysAuthenticate() != CK_FALSE;
    }
    switch (kind) {
        case CRYPTO_STATE_ENCRYPT:
            if (keyClass == CKO_PUBLIC_KEY) {
                auto& typed = KeyAs<TokPublicKey>(key);
                RequireUsage(typed.GetCouldEncrypt());
                mechanism.EncryptInit(*this, parameter, typed);
            } else if (keyClass == CKO_SECRET_KEY) {
                auto& typed = KeyAs<TokSecretKey>(key);
                RequireUsage(typed.GetCouldEncrypt());
                mechanism.EncryptInit(*this, parameter, typed);
            } else {
                throw Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            break;
        case CRYPTO_STATE_DECRYPT:
            if (keyClass == CKO_PRIVATE_KEY) {
                auto& typed = KeyAs<TokPrivateKey>(key);
                RequireUsage(typed.GetCouldDecrypt());
                mechanism.DecryptInit(*this, parameter, typed);
            } else if (keyClass == CKO_SECRET_KEY) {
                auto& typed = KeyAs<TokSecretKey>(key);
                RequireUsage(typed.GetCouldDecrypt());
                mechanism.DecryptInit(*this, parameter, typed);
            } else {
                throw Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            break;
        case CRYPTO_STATE_SIGN:
            if (keyClass == CKO_PRIVATE_KEY) {
                auto& typed = KeyAs<TokPrivateKey>(key);
                RequireUsage(typed.GetCouldSign());
                mechanism.SignInit(*this, parameter, typed);
            } else if (keyClass == CKO_SECRET_KEY) {
                auto& typed = KeyAs<TokSecretKey>(key);
                RequireUsage(typed.GetCouldSign());
                mechanism.SignInit(*this, parameter, typed);
            } else {
                throw Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            break;
        case CRYPTO_STATE_VERIFY:
            if (keyClass == CKO_PUBLIC_KEY) {
                auto& typed = KeyAs<TokPublicKey>(key);
                RequireUsage(typed.GetCouldVerify());
                mechanism.VerifyInit(*this, parameter, typed);
            } else if (keyClass == CKO_SECRET_KEY) {
                auto& typed = KeyAs<TokSecretKey>(key);
                RequireUsage(typed.GetCouldVerify());
                mechanism.VerifyInit(*this, parameter, typed);
            } else {
                throw Exception(CKR_KEY_TYPE_INCONSISTENT);
            }
            break;
        case CRYPTO_STATE_SIGN_RECOVER: {
            if (keyClass != CKO_PRIVATE_KEY) throw Exception(CKR_KEY_TYPE_INCONSISTENT);
            auto& typed = KeyAs<TokPrivateKey>(key);
            RequireUsage(typed.GetCouldSignRecover());
            mechanism.SignRecoverInit(*this, parameter, typed);
            break;
        }
        case CRYPTO_STATE_VERIFY_RECOVER: {
            if (keyClass != CKO_PUBLIC_KEY) throw Exception(CKR_KEY_TYPE_INCONSISTENT);
            auto& typed = KeyAs<TokPublicKey>(key);
            RequireUsage(typed.GetCouldVerifyRecover());
            mechanism.VerifyRecoverInit(*this, parameter, typed);
            break;
        }
        default:
            throw Exception(CKR_GENERAL_ERROR);
    }
    // Only an operation that started waits for the context-specific login.
    if (needsLogin) mContextLoginState = CONTEXT_LOGIN_WAITING;
}

void SessionFrame::OperationInit(CryptoStateEnum kind, const MechanismParameter& parameter, TokKey& key) {
    InSession([&](Token* token) {
        TokMechanism* mechanism = InitMechanism(token, kind, parameter.GetType());
        VerifyKeyOperationAllowed(&key, parameter.GetType(), CKR_KEY_TYPE_INCONSISTENT);
        mContextLoginState = CONTEXT_LOGIN_NONE;
        const std::vector<TokObjectPtr> held =
            UseKeys(token, {{&key, CKR_KEY_HANDLE_INVALID}}, Token::ObjectUse::Now, [&] {
                StartKeyOperation(kind, *mechanism, parameter, key);
                return true;
            });
        SetCurrentOperation(kind, held[0], mechanism);
    });
}

void SessionFrame::DigestInit(const MechanismParameter& parameter) {
    InSession([&](Token* token) {
        TokMechanism* mechanism = InitMechanism(token, CRYPTO_STATE_DIGEST, parameter.GetType());
        mechanism->DigestInit(*this, parameter);
        SetCurrentOperation(CRYPTO_STATE_DIGEST, nullptr, mechanism);
    });
}

void SessionFrame::CheckCall(TokMechanism& mechanism, int checks, const tru::Buffer* input) const {
    auto login = [&] {
        if ((checks & (CHECK_LOGIN | CHECK_LOGIN_FIRST)) != 0 && mContextLoginState == CONTEXT_LOGIN_WAITING) {
            throw Exception(CKR_USER_NOT_LOGGED_IN);
        }
    };
    auto empty = [&] {
        if (input == nullptr || input->Size() != 0) return;
        bool allowed = true;
        if ((checks & CHECK_EMPTY_SIGN) != 0) allowed = mechanism.IsSignNullDataAvailable();
        if ((checks & CHECK_EMPTY_DIGEST) != 0) allowed = mechanism.IsDigestNullDataAvailable();
        if (!allowed) throw Exception(CKR_DATA_LEN_RANGE);
    };
    if ((checks & CHECK_LOGIN_FIRST) != 0) {
        login();
        empty();
    } else {
        empty();
        login();
    }
}

void SessionFrame::GuardedCall(CryptoStateEnum kind, OperationModeEnum mode, bool final, int checks,
                               const tru::Buffer* input, bool ends,
                               const std::function<bool(TokMechanism&)>& call, TokObject* usedKey) {
    InSession([&](Token* token) {
        OperationGuard guard(*this, kind);
        TokMechanism* mechanism = GetCurrentMechanism(kind, mode, final);
        CheckCall(*mechanism, checks, input);
        bool done = false;
        const Token::ObjectUse when =
            usedKey != nullptr ? Token::ObjectUse::Now : KeyUseFor(ends || (checks & CHECK_RESULT) != 0);
        UseKeys(token, {{OperationKey(kind), CKR_KEY_HANDLE_INVALID}, {usedKey, CKR_KEY_HANDLE_INVALID}}, when, [&] {
            done = call(*mechanism);
            return done;
        });
        guard.Deactivate();
        // A short buffer keeps the operation, so the caller can ask again.
        if (!done) throw BufferTooSmallException();
        if (ends) guard.ResetGuardedOperation();
    });
}

void SessionFrame::Encrypt(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_ENCRYPT, MODE_SINGLE_PART, false, 0, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.Encrypt(*this, data, out, outLen); });
}

void SessionFrame::EncryptUpdate(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_ENCRYPT, MODE_MULTI_PART, false, out != nullptr ? CHECK_RESULT : 0, nullptr, false,
                [&](TokMechanism& m) { return m.EncryptUpdate(*this, data, out, outLen); });
}

void SessionFrame::EncryptFinal(unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_ENCRYPT, MODE_MULTI_PART, false, 0, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.EncryptFinal(*this, out, outLen); });
}

void SessionFrame::Decrypt(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_DECRYPT, MODE_SINGLE_PART, false, CHECK_LOGIN, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.Decrypt(*this, data, out, outLen); });
}

void SessionFrame::DecryptUpdate(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_DECRYPT, MODE_MULTI_PART, false, CHECK_LOGIN | (out != nullptr ? CHECK_RESULT : 0),
                nullptr, false, [&](TokMechanism& m) { return m.DecryptUpdate(*this, data, out, outLen); });
}

void SessionFrame::DecryptFinal(unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_DECRYPT, MODE_MULTI_PART, false, CHECK_LOGIN, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.DecryptFinal(*this, out, outLen); });
}

void SessionFrame::Sign(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_SIGN, MODE_SINGLE_PART, false, CHECK_EMPTY_SIGN | CHECK_LOGIN, &data, out != nullptr,
                [&](TokMechanism& m) { return m.Sign(*this, data, out, outLen); });
}

void SessionFrame::SignUpdate(const tru::Buffer& data) {
    GuardedCall(CRYPTO_STATE_SIGN, MODE_MULTI_PART, false, CHECK_LOGIN_FIRST | CHECK_EMPTY_SIGN, &data, false,
                [&](TokMechanism& m) {
                    m.SignUpdate(*this, data);
                    return true;
                });
}

void SessionFrame::SignFinal(unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_SIGN, MODE_MULTI_PART, true, CHECK_LOGIN, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.SignFinal(*this, out, outLen); });
}

bool SessionFrame::Verify(const tru::Buffer& data, const tru::Buffer& signature) {
    bool valid = false;
    GuardedCall(CRYPTO_STATE_VERIFY, MODE_SINGLE_PART, false, CHECK_EMPTY_SIGN, &data, true, [&](TokMechanism& m) {
        valid = m.Verify(*this, data, signature);
        return true;
    });
    return valid;
}

void SessionFrame::VerifyUpdate(const tru::Buffer& data) {
    GuardedCall(CRYPTO_STATE_VERIFY, MODE_MULTI_PART, false, CHECK_EMPTY_SIGN, &data, false, [&](TokMechanism& m) {
        m.VerifyUpdate(*this, data);
        return true;
    });
}

bool SessionFrame::VerifyFinal(const tru::Buffer& signature) {
    bool valid = false;
    GuardedCall(CRYPTO_STATE_VERIFY, MODE_MULTI_PART, true, 0, nullptr, true, [&](TokMechanism& m) {
        valid = m.VerifyFinal(*this, signature);
        return true;
    });
    return valid;
}

void SessionFrame::SignRecover(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_SIGN_RECOVER, MODE_SINGLE_PART, false, CHECK_LOGIN, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.SignRecover(*this, data, out, outLen); });
}

void SessionFrame::VerifyRecover(const tru::Buffer& signature, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_VERIFY_RECOVER, MODE_SINGLE_PART, false, 0, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.VerifyRecover(*this, signature, out, outLen); });
}

void SessionFrame::Digest(const tru::Buffer& data, unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_DIGEST, MODE_SINGLE_PART, false, CHECK_EMPTY_DIGEST, &data, out != nullptr,
                [&](TokMechanism& m) { return m.Digest(*this, data, out, outLen); });
}

void SessionFrame::DigestUpdate(const tru::Buffer& data) {
    GuardedCall(CRYPTO_STATE_DIGEST, MODE_MULTI_PART, false, CHECK_EMPTY_DIGEST, &data, false, [&](TokMechanism& m) {
        m.DigestUpdate(*this, data);
        return true;
    });
}

void SessionFrame::DigestKey(TokSecretKey& key) {
    GuardedCall(
        CRYPTO_STATE_DIGEST, MODE_MULTI_PART, false, 0, nullptr, false,
        [&](TokMechanism& m) {
            const tru::Buffer value = key.GetValueToWrap();
            if (value.Size() == 0) throw Exception(CKR_KEY_INDIGESTIBLE);
            m.DigestUpdate(*this, value);
            return true;
        },
        &key);
}

void SessionFrame::DigestFinal(unsigned char* out, CK_ULONG* outLen) {
    GuardedCall(CRYPTO_STATE_DIGEST, MODE_MULTI_PART, false, 0, nullptr, out != nullptr,
                [&](TokMechanism& m) { return m.DigestFinal(*this, out, outLen); });
}

void SessionFrame::DualUpdate(CryptoStateEnum first, CryptoStateEnum second, const tru::Buffer& data,
                              unsigned char* out, CK_ULONG* outLen) {
    InSession([&](Token* token) {
        TokMechanism* one = GetCurrentMechanism(first, MODE_MULTI_PART, false);
        TokMechanism* other = GetCurrentMechanism(second, MODE_MULTI_PART, false);
        // A decryption whose key waits for its context-specific login is refused here too.
        if (first == CRYPTO_STATE_DECRYPT && mContextLoginState == CONTEXT_LOGIN_WAITING) {
            throw Exception(CKR_USER_NOT_LOGGED_IN);
        }
        bool done = false;
        UseKeys(token, {{OperationKey(first), CKR_KEY_HANDLE_INVALID}, {OperationKey(second), CKR_KEY_HANDLE_INVALID}},
                KeyUseFor(out != nullptr), [&] {
                    if (first == CRYPTO_STATE_ENCRYPT && second == CRYPTO_STATE_DIGEST) {
                        done = one->DigestEncryptUpdate(*this, *other, data, out, outLen);
                    } else if (first == CRYPTO_STATE_DECRYPT && second == CRYPTO_STATE_DIGEST) {
                        done = one->DecryptDigestUpdate(*this, *other, data, out, outLen);
                    } else if (first == CRYPTO_STATE_ENCRYPT && second == CRYPTO_STATE_SIGN) {
                        done = one->SignEncryptUpdate(*this, *other, data, out, outLen);
                    } else if (first == CRYPTO_STATE_DECRYPT && second == CRYPTO_STATE_VERIFY) {
                        done = one->DecryptVerifyUpdate(*this, *other, data, out, outLen);
                    } else {
                        throw Exception(CKR_GENERAL_ERROR);
                    }
                    return done;
                });
        if (!done) throw BufferTooSmallException();
    });
}

}  // namespace zrck
