// The Cryptoki operations the library object offers beside Initialize, Finalize, GetInfo,
// GetSlotList and WaitForSlotEvent, as X-macro lists: X(Name, (parameters), (arguments)).
#ifndef ZR_CRYPTOKI_OPERATION_LIST_H
#define ZR_CRYPTOKI_OPERATION_LIST_H

// General, slot, token, session, login, PIN, random and operation-state functions.
#define ZR_CK_SLOT_SESSION_OPERATIONS(X)                                                              \
    X(GetSlotInfo, (CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo), (slotID, pInfo))                     \
    X(GetTokenInfo, (CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo), (slotID, pInfo))                   \
    X(GetMechanismList, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount), \
      (slotID, pMechanismList, pulCount))                                                             \
    X(GetMechanismInfo, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo),     \
      (slotID, type, pInfo))                                                                          \
    X(InitToken, (CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel), \
      (slotID, pPin, ulPinLen, pLabel))                                                               \
    X(OpenSession, (CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,   \
                    CK_SESSION_HANDLE_PTR phSession),                                                 \
      (slotID, flags, pApplication, Notify, phSession))                                               \
    X(CloseSession, (CK_SESSION_HANDLE hSession), (hSession))                                         \
    X(GetSessionInfo, (CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo), (hSession, pInfo))     \
    X(CloseAllSessions, (CK_SLOT_ID slotID), (slotID))                                                \
    X(Login, (CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen), \
      (hSession, userType, pPin, ulPinLen))                                                           \
    X(Logout, (CK_SESSION_HANDLE hSession), (hSession))                                               \
    X(InitPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen), (hSession, pPin, ulPinLen)) \
    X(SetPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin, \
               CK_ULONG ulNewLen),                                                                    \
      (hSession, pOldPin, ulOldLen, pNewPin, ulNewLen))                                               \
    X(SeedRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen), (hSession, pSeed, ulSeedLen)) \
    X(GenerateRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen),   \
      (hSession, pRandomData, ulRandomLen))                                                           \
    X(GetOperationState, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG_PTR pulOperationStateLen), \
      (hSession, pOperationState, pulOperationStateLen))                                              \
    X(SetOperationState, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG ulOperationStateLen, \
                          CK_OBJECT_HANDLE hEncryptionKey, CK_OBJECT_HANDLE hAuthenticationKey),      \
      (hSession, pOperationState, ulOperationStateLen, hEncryptionKey, hAuthenticationKey))

// Object, key and cryptographic functions; every one names a session first.
#define ZR_CK_OBJECT_CRYPTO_OPERATIONS(X)                                                             \
    X(FindObjectsInit, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount), (hSession, pTemplate, ulCount)) \
    X(FindObjects, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount, \
                    CK_ULONG_PTR pulObjectCount), (hSession, phObject, ulMaxObjectCount, pulObjectCount)) \
    X(FindObjectsFinal, (CK_SESSION_HANDLE hSession), (hSession))                                     \
    X(GetAttributeValue, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, \
                          CK_ULONG ulCount), (hSession, hObject, pTemplate, ulCount))                 \
    X(SetAttributeValue, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, \
                          CK_ULONG ulCount), (hSession, hObject, pTemplate, ulCount))                 \
    X(CreateObject, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,        \
                     CK_OBJECT_HANDLE_PTR phObject), (hSession, pTemplate, ulCount, phObject))        \
    X(CopyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,  \
                   CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject), (hSession, hObject, pTemplate, ulCount, phNewObject)) \
    X(DestroyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject), (hSession, hObject))     \
    X(GetObjectSize, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize), (hSession, hObject, pulSize)) \
    X(GenerateKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate, \
                    CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey), (hSession, pMechanism, pTemplate, ulCount, phKey)) \
    X(GenerateKeyPair, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate, \
                        CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate,     \
                        CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey,        \
                        CK_OBJECT_HANDLE_PTR phPrivateKey),                                           \
      (hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount, pPrivateKeyTemplate,      \
       ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey))                                        \
    X(DeriveKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey, \
                  CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey), \
      (hSession, pMechanism, hBaseKey, pTemplate, ulAttributeCount, phKey))                           \
    X(UnwrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey, \
                  CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,      \
                  CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey),                             \
      (hSession, pMechanism, hUnwrappingKey, pWrappedKey, ulWrappedKeyLen, pTemplate, ulAttributeCount, phKey)) \
    X(WrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey, \
                CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen),       \
      (hSession, pMechanism, hWrappingKey, hKey, pWrappedKey, pulWrappedKeyLen))                      \
    X(EncryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), (hSession, pMechanism, hKey)) \
    X(Encrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData, \
                CK_ULONG_PTR pulEncryptedDataLen), (hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen)) \
    X(EncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, \
                      CK_ULONG_PTR pulEncryptedPartLen), (hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen)) \
    X(EncryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen), \
      (hSession, pLastEncryptedPart, pulLastEncryptedPartLen))                                        \
    X(DecryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), (hSession, pMechanism, hKey)) \
    X(Decrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData, \
                CK_ULONG_PTR pulDataLen), (hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen)) \
    X(DecryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, \
                      CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen), (hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen)) \
    X(DecryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen), \
      (hSession, pLastPart, pulLastPartLen))                                                          \
    X(SignInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), (hSession, pMechanism, hKey)) \
    X(Sign, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, \
             CK_ULONG_PTR pulSignatureLen), (hSession, pData, ulDataLen, pSignature, pulSignatureLen)) \
    X(SignUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen), (hSession, pPart, ulPartLen)) \
    X(SignFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen), \
      (hSession, pSignature, pulSignatureLen))                                                        \
    X(VerifyInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), (hSession, pMechanism, hKey)) \
    X(Verify, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, \
               CK_ULONG ulSignatureLen), (hSession, pData, ulDataLen, pSignature, ulSignatureLen))    \
    X(VerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen), (hSession, pPart, ulPartLen)) \
    X(VerifyFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen), \
      (hSession, pSignature, ulSignatureLen))                                                         \
    X(SignRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), (hSession, pMechanism, hKey)) \
    X(SignRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, \
                    CK_ULONG_PTR pulSignatureLen), (hSession, pData, ulDataLen, pSignature, pulSignatureLen)) \
    X(VerifyRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey), (hSession, pMechanism, hKey)) \
    X(VerifyRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen, CK_BYTE_PTR pData, \
                      CK_ULONG_PTR pulDataLen), (hSession, pSignature, ulSignatureLen, pData, pulDataLen)) \
    X(DigestInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism), (hSession, pMechanism))  \
    X(Digest, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest, \
               CK_ULONG_PTR pulDigestLen), (hSession, pData, ulDataLen, pDigest, pulDigestLen))       \
    X(DigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen), (hSession, pPart, ulPartLen)) \
    X(DigestKey, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey), (hSession, hKey))               \
    X(DigestFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen), (hSession, pDigest, pulDigestLen)) \
    X(DigestEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, \
                            CK_ULONG_PTR pulEncryptedPartLen), (hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen)) \
    X(DecryptDigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, \
                            CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen), (hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen)) \
    X(SignEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, \
                          CK_ULONG_PTR pulEncryptedPartLen), (hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen)) \
    X(DecryptVerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, \
                            CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen), (hSession, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen))

#endif  // ZR_CRYPTOKI_OPERATION_LIST_H
