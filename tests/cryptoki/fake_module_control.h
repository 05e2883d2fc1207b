// Control interface of the fake-token module: lets tests shape the slots and tokens behind
// the real C_ functions. Exported by the module beside the Cryptoki functions.
#ifndef ZR_TESTS_FAKE_MODULE_CONTROL_H
#define ZR_TESTS_FAKE_MODULE_CONTROL_H

#include "ckbase/zr_pkcs11.h"

extern "C" {

struct ZrFakeConfig {
    CK_ULONG slotCount;         // slots 0 .. slotCount-1
    CK_ULONG tokenPresentMask;  // bit n: a token sits in slot n
    CK_ULONG maxSessions;
    CK_ULONG maxRwSessions;
    CK_BBOOL readOnlyToken;
    CK_BBOOL userPinInitialized;
};

// How the library's GetInfo fails, to check the boundary's mapping of exceptions.
enum ZrFakeThrow {
    ZR_FAKE_THROW_NONE = 0,
    ZR_FAKE_THROW_CK_CODE_0 = 1,      // zrck::Exception with CKR_OK
    ZR_FAKE_THROW_CK_PIN_LOCKED = 2,  // zrck::Exception with CKR_PIN_LOCKED
    ZR_FAKE_THROW_BASE = 3,           // tru::Exception
    ZR_FAKE_THROW_STD = 4,            // std::runtime_error
    ZR_FAKE_THROW_OTHER = 5,          // an int
    ZR_FAKE_THROW_BUFFER_TOO_SMALL = 6,
};

// Defaults: 2 slots, a token in slot 0, 100 and 100 sessions, writable, user PIN set.
void ZrFake_Configure(const ZrFakeConfig* config);  // applies from the next C_Initialize
void ZrFake_DefaultConfig(ZrFakeConfig* config);
void ZrFake_RemoveToken(CK_SLOT_ID slot);
void ZrFake_InsertToken(CK_SLOT_ID slot);
void ZrFake_SetCreatorHook(CK_BBOOL installed);
CK_BBOOL ZrFake_LibraryExists(void);
CK_ULONG ZrFake_LockingMode(void);
// Whether the mutexes the library makes now exclude other threads (not the do-nothing kind).
CK_BBOOL ZrFake_MutexesExclude(void);
void ZrFake_SetGetInfoThrow(int kind);
// Counts of Update(true) the token of a slot has seen.
CK_ULONG ZrFake_TokenUpdates(CK_SLOT_ID slot);
// How often the slot table has been read again since C_Initialize.
CK_ULONG ZrFake_SlotRefreshes(void);

typedef void (*ZrFake_Configure_t)(const ZrFakeConfig*);
typedef void (*ZrFake_DefaultConfig_t)(ZrFakeConfig*);
typedef void (*ZrFake_SlotControl_t)(CK_SLOT_ID);
typedef void (*ZrFake_SetCreatorHook_t)(CK_BBOOL);
typedef CK_BBOOL (*ZrFake_LibraryExists_t)(void);
typedef CK_ULONG (*ZrFake_LockingMode_t)(void);
typedef CK_BBOOL (*ZrFake_MutexesExclude_t)(void);
typedef void (*ZrFake_SetGetInfoThrow_t)(int);
typedef CK_ULONG (*ZrFake_TokenUpdates_t)(CK_SLOT_ID);
typedef CK_ULONG (*ZrFake_SlotRefreshes_t)(void);
}

// The user and SO PINs of every fake token.
#define ZR_FAKE_USER_PIN "123456"
#define ZR_FAKE_SO_PIN "87654321"

#endif  // ZR_TESTS_FAKE_MODULE_CONTROL_H
