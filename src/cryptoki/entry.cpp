// The library's PKCS#11 boundary: every exported function passes its arguments to its internal
// twin, which calls the library object inside one catch-all; the function list points at the
// twins. No Cryptoki logic lives here.
#include <exception>

#include "ckbase/exception.h"
#include "cryptoki/library_frame.h"
#include "ckbase/zr_pkcs11.h"

using zrck::LibraryFrame;
using zrck::StaticsLifetime;

namespace {

template <class Body>
CK_RV Unguarded(Body body) {
    try {
        return body(*LibraryFrame::GetInstance());
    } catch (...) {
        return zrck::ResultOfException(std::current_exception());
    }
}

// Every call but C_Initialize and C_Finalize runs inside the call gate.
template <class Body>
CK_RV Guarded(Body body) {
    if (StaticsLifetime::Over()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    zrck::CallGate& gate = zrck::CallGate::Instance();
    if (!gate.Enter()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    const CK_RV rv = Unguarded(body);
    gate.Leave();
    return rv;
}

const CK_C_INITIALIZE_ARGS empty_args = {nullptr, nullptr, nullptr, nullptr, 0, nullptr};


CK_RV IC_Initialize(CK_VOID_PTR pInitArgs) {
    // Called from an exit handler the library cannot be built again.
    if (StaticsLifetime::Over()) return CKR_FUNCTION_FAILED;
    CK_C_INITIALIZE_ARGS args = pInitArgs != nullptr ? *static_cast<CK_C_INITIALIZE_ARGS_PTR>(pInitArgs) : empty_args;
    const CK_RV rv = Unguarded([&](LibraryFrame& library) { return library.Initialize(&args); });
    StaticsLifetime::MarkAfterInitialize();
    return rv;
}

CK_RV IC_Finalize(CK_VOID_PTR pReserved) {
    if (StaticsLifetime::Over()) return LibraryFrame::FinalizeWithoutStatics();
    return Unguarded([&](LibraryFrame& library) {
        const CK_RV rv = library.Finalize(pReserved);
        LibraryFrame::ReleaseInstanceIfFinalized(&library);
        return rv;
    });
}

CK_RV IC_GetInfo(CK_INFO_PTR pInfo) {
    if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
    return Guarded([&](LibraryFrame& library) { return library.GetInfo(pInfo); });
}

CK_RV IC_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);

CK_RV IC_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    return Guarded([&](LibraryFrame& library) {
        return library.GetSlotList(tokenPresent != 0 ? CK_TRUE : CK_FALSE, pSlotList, pulCount);
    });
}

CK_RV IC_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    return Guarded([&](LibraryFrame& library) { return library.WaitForSlotEvent(flags, pSlot, pReserved); });
}

CK_RV IC_GetFunctionStatus(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV IC_CancelFunction(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_SUPPORTED; }

#define ZR_DEFINE_INTERNAL(name, params, args) \
    CK_RV IC_##name params {                   \
        return Guarded([&](LibraryFrame& library) { return library.name args; }); \
    }
ZR_CK_SLOT_SESSION_OPERATIONS(ZR_DEFINE_INTERNAL)
ZR_CK_OBJECT_CRYPTO_OPERATIONS(ZR_DEFINE_INTERNAL)
#undef ZR_DEFINE_INTERNAL

CK_FUNCTION_LIST MakeFunctionList() {
    CK_FUNCTION_LIST list;
    list.version.major = ZR_CRYPTOKI_VERSION_MAJOR;
    list.version.minor = ZR_CRYPTOKI_VERSION_MINOR;
    list.C_Initialize = IC_Initialize;
    list.C_Finalize = IC_Finalize;
    list.C_GetInfo = IC_GetInfo;
    list.C_GetFunctionList = IC_GetFunctionList;
    list.C_GetSlotList = IC_GetSlotList;
    list.C_GetSlotInfo = IC_GetSlotInfo;
    list.C_GetTokenInfo = IC_GetTokenInfo;
    list.C_GetMechanismList = IC_GetMechanismList;
    list.C_GetMechanismInfo = IC_GetMechanismInfo;
    list.C_InitToken = IC_InitToken;
    list.C_InitPIN = IC_InitPIN;
    list.C_SetPIN = IC_SetPIN;
    list.C_OpenSession = IC_OpenSession;
    list.C_CloseSession = IC_CloseSession;
    list.C_CloseAllSessions = IC_CloseAllSessions;
    list.C_GetSessionInfo = IC_GetSessionInfo;
    list.C_GetOperationState = IC_GetOperationState;
    list.C_SetOperationState = IC_SetOperationState;
    list.C_Login = IC_Login;
    list.C_Logout = IC_Logout;
    list.C_CreateObject = IC_CreateObject;
    list.C_CopyObject = IC_CopyObject;
    list.C_DestroyObject = IC_DestroyObject;
    list.C_GetObjectSize = IC_GetObjectSize;
    list.C_GetAttributeValue = IC_GetAttributeValue;
    list.C_SetAttributeValue = IC_SetAttributeValue;
    list.C_FindObjectsInit = IC_FindObjectsInit;
    list.C_FindObjects = IC_FindObjects;
    list.C_FindObjectsFinal = IC_FindObjectsFinal;
    list.C_EncryptInit = IC_EncryptInit;
    list.C_Encrypt = IC_Encrypt;
    list.C_EncryptUpdate = IC_EncryptUpdate;
    list.C_EncryptFinal = IC_EncryptFinal;
    list.C_DecryptInit = IC_DecryptInit;
    list.C_Decrypt = IC_Decrypt;
    list.C_DecryptUpdate = IC_DecryptUpdate;
    list.C_DecryptFinal = IC_DecryptFinal;
    list.C_DigestInit = IC_DigestInit;
    list.C_Digest = IC_Digest;
    list.C_DigestUpdate = IC_DigestUpdate;
    list.C_DigestKey = IC_DigestKey;
    list.C_DigestFinal = IC_DigestFinal;
    list.C_SignInit = IC_SignInit;
    list.C_Sign = IC_Sign;
    list.C_SignUpdate = IC_SignUpdate;
    list.C_SignFinal = IC_SignFinal;
    list.C_SignRecoverInit = IC_SignRecoverInit;
    list.C_SignRecover = IC_SignRecover;
    list.C_VerifyInit = IC_VerifyInit;
    list.C_Verify = IC_Verify;
    list.C_VerifyUpdate = IC_VerifyUpdate;
    list.C_VerifyFinal = IC_VerifyFinal;
    list.C_VerifyRecoverInit = IC_VerifyRecoverInit;
    list.C_VerifyRecover = IC_VerifyRecover;
    list.C_DigestEncryptUpdate = IC_DigestEncryptUpdate;
    list.C_DecryptDigestUpdate = IC_DecryptDigestUpdate;
    list.C_SignEncryptUpdate = IC_SignEncryptUpdate;
    list.C_DecryptVerifyUpdate = IC_DecryptVerifyUpdate;
    list.C_GenerateKey = IC_GenerateKey;
    list.C_GenerateKeyPair = IC_GenerateKeyPair;
    list.C_WrapKey = IC_WrapKey;
    list.C_UnwrapKey = IC_UnwrapKey;
    list.C_DeriveKey = IC_DeriveKey;
    list.C_SeedRandom = IC_SeedRandom;
    list.C_GenerateRandom = IC_GenerateRandom;
    list.C_GetFunctionStatus = IC_GetFunctionStatus;
    list.C_CancelFunction = IC_CancelFunction;
    list.C_WaitForSlotEvent = IC_WaitForSlotEvent;
    return list;
}

CK_RV IC_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    // Filled once, on the first call (a null argument included), race-free.
    static CK_FUNCTION_LIST Ick_function_list = MakeFunctionList();
    if (ppFunctionList == nullptr) return CKR_ARGUMENTS_BAD;
    *ppFunctionList = &Ick_function_list;
    return CKR_OK;
}

}  // namespace

#define ZR_EXPORT __attribute__((visibility("default")))

extern "C" {

ZR_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs) { return IC_Initialize(pInitArgs); }
ZR_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved) { return IC_Finalize(pReserved); }
ZR_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo) { return IC_GetInfo(pInfo); }
ZR_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) { return IC_GetFunctionList(ppFunctionList); }
ZR_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    return IC_GetSlotList(tokenPresent, pSlotList, pulCount);
}
ZR_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    return IC_WaitForSlotEvent(flags, pSlot, pReserved);
}
ZR_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession) { return IC_GetFunctionStatus(hSession); }
ZR_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession) { return IC_CancelFunction(hSession); }

#define ZR_DEFINE_EXPORT(name, params, args) \
    ZR_EXPORT CK_RV C_##name params { return IC_##name args; }
ZR_CK_SLOT_SESSION_OPERATIONS(ZR_DEFINE_EXPORT)
ZR_CK_OBJECT_CRYPTO_OPERATIONS(ZR_DEFINE_EXPORT)
#undef ZR_DEFINE_EXPORT

// Vendor export: library-wide attributes; creates the library object but needs no C_Initialize.
ZR_EXPORT CK_RV C_SetLibraryAttributes(CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    return Guarded([&](LibraryFrame& library) { return library.SetLibraryAttributes(pTemplate, ulCount); });
}

}  // extern "C"
