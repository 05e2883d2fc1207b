// Vocabulary shared by the whole utility: kind enumerations, the parameter record of one run,
// exit statuses, the failures that travel to main, and the Cryptoki failure report.
#pragma once

#include <cstdint>
#include <string>

#include "ckbase/zr_pkcs11.h"
#include "support/safe_buffer.h"
#include "tru2/buffer.h"

namespace zrsvc {

enum EObjectType : uint32_t {
    OT_NONE = 0, OT_ALL, OT_KEYS, OT_PUBLIC_KEYS, OT_PRIVATE_KEYS, OT_SECRET_KEYS,
    OT_CERTIFICATES, OT_DATA, OT_PARAMS, OT_MECHANISMS, OT_HW_FEATURES
};
enum EKeyType : uint32_t {
    KT_NONE = 0, KT_RSA, KT_ECDSA, KT_BIGN, KT_BDS, KT_HASHBDS, KT_COMPOUND_BDS, KT_COMPOUND_HASHBDS,
    KT_DSTU4145, KT_BELT, KT_GOST, KT_RDS, KT_DSA_DM, KT_GENERIC, KT_DSTU28147
};
enum EHashType : uint32_t {
    HT_NONE = 0, HT_SHA1, HT_SHA256, HT_BELT, HT_BHF, HT_GOST, HT_STREEBOG256, HT_STREEBOG512
};
enum EEncryptionMode : uint32_t { EM_NONE = 0, EM_ECB, EM_CTR, EM_CFB, EM_CBC };

// Exit statuses of the process.
enum : int {
    ST_OK = 0,
    ST_ERROR = 1,
    ST_INVALID = 2,
    ST_NO_TOKEN = 3,
    ST_CK_FAILED = 5,
    ST_NO_FILE = 7,
    ST_BREAK = 9,
    ST_BAD_CONFIG = 99
};

constexpr CK_SLOT_ID kSlotUnset = 0xFFFFFFFFUL;
constexpr CK_KEY_TYPE kNoKeyType = 0xFFFFFFFFUL;

// Text for secrets (PINs): the bytes are wiped whenever they are replaced or released.
class SecretText {
public:
    SecretText() = default;
    SecretText(const std::string& text) { Assign(text.data(), text.size()); }
    SecretText(const SecretText& other) { Assign(other.data(), other.size()); }
    SecretText& operator=(const SecretText& other);
    SecretText& operator=(const std::string& text);

    void Assign(const void* data, size_t size);
    void Clear();
    const char* data() const;
    // Up to the first zero byte, as the text is handed to C_Login and C_InitToken.
    size_t size() const;
    bool empty() const { return size() == 0; }
    CK_UTF8CHAR_PTR ck() const { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(data())); }
    bool operator==(const SecretText& other) const;

private:
    vdk::SafeBuffer bytes_;  // the text and a terminating zero
};

class LibFinalizer;

// One parsed command line, handed from main to the command handler.
struct SvcParams {
    CK_FUNCTION_LIST_PTR functions = nullptr;
    LibFinalizer* finalizer = nullptr;
    tru::BufferDynamic id, synchro, subject, signature, wrap_id, params, seed;
    vdk::SafeBuffer key_value;
    CK_SLOT_ID slot = kSlotUnset;
    SecretText password, so_password, new_password, key_password;
    uint64_t size = 0;
    std::string file, out_file;
    EObjectType objectType = OT_NONE;
    EKeyType keyType = KT_NONE;
    EHashType hashType = HT_NONE;
    EEncryptionMode mode = EM_NONE;
    std::string label, wrap_label, application, attr;
    std::string typeText;  // the -type word as given, for the unknown-type message
    int32_t count = 1;
    bool countGiven = false;  // -count was on the command line
    uint64_t bits = 1024;
    bool bitsGiven = false;  // -bits was on the command line
    bool quiet = false, statistics = false, force = false, yes = false, repeat = false,
         longForm = false, hex = false, privateZone = false;
    bool testPresence = true;
    bool tokenInitialized = false, loginRequired = false;
    std::string lib_init_config;
};

// Failures that end the run in main, after the session and library are released.
struct IntError { int value; };            // "Error number 0x%x occured."
struct CkError { CK_RV rv; };              // "Error number 0x%lx occured."
struct SilentFailure {};                   // "Exception occured."
struct ExitStatus { int status; };         // the message was printed; just this status

// "%s returned 0x%lx %s\n" on standard error; returns ST_CK_FAILED.
int ReportCk(const char* function, CK_RV rv);
// Reports and throws CkError.
[[noreturn]] void ThrowCk(const char* function, CK_RV rv);

// The control-break flag (SIGINT).
void SetCtrlBreakHandler();
bool IsCtrlBreakDetected();
void SetCtrlBreakForTest(bool value);
// Up to seven one-second pauses printing ".", ended early by control-break.
void SleepLoop();

}  // namespace zrsvc
