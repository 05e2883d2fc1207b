// Library bodies of the cryptographic functions: argument checks, the session and its
// present token, the key held for an initialisation, then the session's operation.
#include "cryptoki/library.h"
#include "cryptoki/library_calls.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "objects/tok_key.h"

namespace zrck {

namespace {

CK_RV InitWithKey(Library& library, CryptoStateEnum kind, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                  CK_OBJECT_HANDLE hKey) {
    if (pMechanism == nullptr) return CKR_ARGUMENTS_BAD;
    if (hKey == 0) return CKR_KEY_HANDLE_INVALID;
    if (!library.IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(library, hSession);
    call.slot->CheckPendingRemoves();
    HeldKey key(*call.slot, hKey, CKR_KEY_HANDLE_INVALID);
    const MechanismParameter mechanism(*pMechanism);
    call.session->OperationInit(kind, mechanism, *key.Get());
    return CKR_OK;
}

// The dual updates: input refused when empty with the code of its direction.
CK_RV DualUpdate(Library& library, CryptoStateEnum first, CryptoStateEnum second, CK_RV emptyCode,
                 CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pOut,
                 CK_ULONG_PTR pulOutLen) {
    if (pPart == nullptr) return CKR_ARGUMENTS_BAD;
    if (ulPartLen == 0) return emptyCode;
    if (pulOutLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!library.IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(library, hSession);
    call.session->DualUpdate(first, second, MakeView(pPart, ulPartLen), pOut, pulOutLen);
    return CKR_OK;
}

}  // namespace

CK_RV Library::EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return InitWithKey(*this, CRYPTO_STATE_ENCRYPT, hSession, pMechanism, hKey);
}

CK_RV Library::DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return InitWithKey(*this, CRYPTO_STATE_DECRYPT, hSession, pMechanism, hKey);
}

CK_RV Library::SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return InitWithKey(*this, CRYPTO_STATE_SIGN, hSession, pMechanism, hKey);
}

CK_RV Library::VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return InitWithKey(*this, CRYPTO_STATE_VERIFY, hSession, pMechanism, hKey);
}

CK_RV Library::SignRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return InitWithKey(*this, CRYPTO_STATE_SIGN_RECOVER, hSession, pMechanism, hKey);
}

CK_RV Library::VerifyRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return InitWithKey(*this, CRYPTO_STATE_VERIFY_RECOVER, hSession, pMechanism, hKey);
}

CK_RV Library::DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    if (pMechanism == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->DigestInit(MechanismParameter(*pMechanism));
    return CKR_OK;
}

CK_RV Library::DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey) {
    if (hKey == 0) return CKR_KEY_HANDLE_INVALID;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.slot->CheckPendingRemoves();
    HeldKey key(*call.slot, hKey, CKR_KEY_HANDLE_INVALID);
    auto* secret = dynamic_cast<TokSecretKey*>(key.Get());
    if (secret == nullptr) throw Exception(CKR_OBJECT_HANDLE_INVALID);
    call.session->DigestKey(*secret);
    return CKR_OK;
}

CK_RV Library::Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                       CK_ULONG_PTR pulEncryptedDataLen) {
    if (pData == nullptr) return CKR_ARGUMENTS_BAD;
    if (ulDataLen == 0) return CKR_DATA_LEN_RANGE;
    if (pulEncryptedDataLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->Encrypt(MakeView(pData, ulDataLen), pEncryptedData, pulEncryptedDataLen);
    return CKR_OK;
}

CK_RV Library::EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                             CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    if (pPart == nullptr) return CKR_ARGUMENTS_BAD;
    if (ulPartLen == 0) return CKR_DATA_LEN_RANGE;
    if (pulEncryptedPartLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->EncryptUpdate(MakeView(pPart, ulPartLen), pEncryptedPart, pulEncryptedPartLen);
    return CKR_OK;
}

CK_RV Library::EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                            CK_ULONG_PTR pulLastEncryptedPartLen) {
    if (pulLastEncryptedPartLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->EncryptFinal(pLastEncryptedPart, pulLastEncryptedPartLen);
    return CKR_OK;
}

CK_RV Library::Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                       CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    if (pEncryptedData == nullptr) return CKR_ARGUMENTS_BAD;
    if (ulEncryptedDataLen == 0) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    if (pulDataLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->Decrypt(MakeView(pEncryptedData, ulEncryptedDataLen), pData, pulDataLen);
    return CKR_OK;
}

CK_RV Library::DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                             CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    if (pEncryptedPart == nullptr) return CKR_ARGUMENTS_BAD;
    if (ulEncryptedPartLen == 0) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    if (pulPartLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->DecryptUpdate(MakeView(pEncryptedPart, ulEncryptedPartLen), pPart, pulPartLen);
    return CKR_OK;
}

CK_RV Library::DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen) {
    if (pulLastPartLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->DecryptFinal(pLastPart, pulLastPartLen);
    return CKR_OK;
}

CK_RV Library::Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                    CK_ULONG_PTR pulSignatureLen) {
    if (pData == nullptr || pulSignatureLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.slot->CheckPendingRemoves();
    call.session->Sign(MakeView(pData, ulDataLen), pSignature, pulSignatureLen);
    call.slot->CheckPendingRemoves();
    return CKR_OK;
}

CK_RV Library::SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    if (pPart == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->SignUpdate(MakeView(pPart, ulPartLen));
    return CKR_OK;
}

CK_RV Library::SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    if (pulSignatureLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->SignFinal(pSignature, pulSignatureLen);
    return CKR_OK;
}

CK_RV Library::Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                      CK_ULONG ulSignatureLen) {
    if (pData == nullptr || pSignature == nullptr || ulSignatureLen == 0) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    const bool valid = call.session->Verify(MakeView(pData, ulDataLen), MakeView(pSignature, ulSignatureLen));
    return valid ? CKR_OK : CKR_SIGNATURE_INVALID;
}

CK_RV Library::VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    if (pPart == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->VerifyUpdate(MakeView(pPart, ulPartLen));
    return CKR_OK;
}

CK_RV Library::VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    if (pSignature == nullptr || ulSignatureLen == 0) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    return call.session->VerifyFinal(MakeView(pSignature, ulSignatureLen)) ? CKR_OK : CKR_SIGNATURE_INVALID;
}

CK_RV Library::SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                           CK_ULONG_PTR pulSignatureLen) {
    if (pData == nullptr) return CKR_ARGUMENTS_BAD;
    if (ulDataLen == 0) return CKR_DATA_LEN_RANGE;
    if (pulSignatureLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->SignRecover(MakeView(pData, ulDataLen), pSignature, pulSignatureLen);
    return CKR_OK;
}

CK_RV Library::VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen,
                             CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    // A missing length pointer is a bad argument like in every other output call.
    if (pSignature == nullptr || ulSignatureLen == 0 || pulDataLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->VerifyRecover(MakeView(pSignature, ulSignatureLen), pData, pulDataLen);
    return CKR_OK;
}

CK_RV Library::Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
                      CK_ULONG_PTR pulDigestLen) {
    if ((ulDataLen != 0 && pData == nullptr) || pulDigestLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->Digest(MakeView(pData, ulDataLen), pDigest, pulDigestLen);
    return CKR_OK;
}

CK_RV Library::DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    if (pPart == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->DigestUpdate(MakeView(pPart, ulPartLen));
    return CKR_OK;
}

CK_RV Library::DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    if (pulDigestLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (!IsReady()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    SessionCall call(*this, hSession);
    call.session->DigestFinal(pDigest, pulDigestLen);
    return CKR_OK;
}

CK_RV Library::DigestEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                   CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    return DualUpdate(*this, CRYPTO_STATE_ENCRYPT, CRYPTO_STATE_DIGEST, CKR_DATA_LEN_RANGE, hSession, pPart, ulPartLen,
                      pEncryptedPart, pulEncryptedPartLen);
}

CK_RV Library::DecryptDigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                                   CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return DualUpdate(*this, CRYPTO_STATE_DECRYPT, CRYPTO_STATE_DIGEST, CKR_ENCRYPTED_DATA_LEN_RANGE, hSession,
                      pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
}

CK_RV Library::SignEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                 CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    return DualUpdate(*this, CRYPTO_STATE_ENCRYPT, CRYPTO_STATE_SIGN, CKR_DATA_LEN_RANGE, hSession, pPart, ulPartLen,
                      pEncryptedPart, pulEncryptedPartLen);
}

CK_RV Library::DecryptVerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                                   CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return DualUpdate(*this, CRYPTO_STATE_DECRYPT, CRYPTO_STATE_VERIFY, CKR_ENCRYPTED_DATA_LEN_RANGE, hSession,
                      pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
}

}  // namespace zrck
