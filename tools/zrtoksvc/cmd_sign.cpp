// "sign" and "verify" of a file with the one matching key.
#include <cstdio>

#include "commands.h"
#include "session.h"

namespace zrsvc {

namespace {

bool Prepare(SvcParams& p, int& status) {
    if (p.file.empty()) {
        std::fprintf(stderr, "File parameter not defined\n");
        throw SilentFailure{};
    }
    status = OpenAndLogin(p);
    if (status != ST_OK)
        return false;
    if (IsCtrlBreakDetected()) {
        status = ST_BREAK;
        return false;
    }
    return true;
}

void LoadInput(const SvcParams& p, tru::BufferDynamic& data) {
    LoadFile(p.file, data, "Cannot load data file ");
    if (data.Empty()) {
        std::fprintf(stderr, "Input file empty\n");
        throw SilentFailure{};
    }
}

// CKM_DSTU4145 takes its data as a hash and reduces it to the curve, so a longer file would be
// signed (or checked) only in part: nothing longer than a GOST 34.311 hash is passed on.
constexpr uint32_t kDstuHashLength = 32;

void CheckDstuInput(const SvcParams& p, CK_MECHANISM_TYPE mechanism, const tru::Buffer& data, const char* command) {
    if (mechanism != CKM_DSTU4145 || data.Size() <= kDstuHashLength)
        return;
    const char* file = p.file.c_str();
    char text[8192];
    std::snprintf(text, sizeof text,
                  "Error: \"%s\" has %u bytes, but a DSTU 4145 key takes at most %u, a hash: a longer file would "
                  "be covered only in part.\nUse its hash: zrtoksvc hash -hash_type=gost -file=%s -out_file=%s.hash, "
                  "then %s -file=%s.hash\n",
                  file, data.Size(), kDstuHashLength, file, file, command, file);
    Refuse(text);
}

}  // namespace

int DoIntSign(SvcParams& p, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism) {
    tru::BufferDynamic signature(512);
    tru::BufferDynamic data;
    LoadInput(p, data);
    CheckDstuInput(p, mechanism, data, "sign");
    CK_MECHANISM m{mechanism, nullptr, 0};
    const CK_SESSION_HANDLE session = p.finalizer->Session();
    CK_RV rv = p.functions->C_SignInit(session, &m, key);
    if (rv != CKR_OK)
        return ReportCk("C_SignInit", rv);
    CK_ULONG length = signature.Size();
    rv = p.functions->C_Sign(session, data.Data(), data.Size(), signature.Data(), &length);
    if (rv != CKR_OK)
        return ReportCk("C_Sign", rv);
    if (length > signature.Size())
        return ReportCk("C_Sign", CKR_BUFFER_TOO_SMALL);
    signature.Realloc(static_cast<uint32_t>(length));
    if (!p.out_file.empty()) {
        SaveFile(p.out_file, signature);
        std::printf("%s file saved.\n", p.out_file.c_str());
    } else {
        std::printf("Signature: %s\n", signature.ToHex().c_str());
    }
    return ST_OK;
}

int DoIntVerify(SvcParams& p, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism) {
    tru::BufferDynamic data;
    LoadInput(p, data);
    CheckDstuInput(p, mechanism, data, "verify");
    CK_MECHANISM m{mechanism, nullptr, 0};
    const CK_SESSION_HANDLE session = p.finalizer->Session();
    CK_RV rv = p.functions->C_VerifyInit(session, &m, key);
    if (rv != CKR_OK)
        return ReportCk("C_VerifyInit", rv);
    rv = p.functions->C_Verify(session, data.Data(), data.Size(), p.signature.Data(), p.signature.Size());
    if (rv == CKR_OK) {
        std::printf("Signature OK\n");
        return ST_OK;
    }
    if (rv == CKR_SIGNATURE_INVALID) {
        std::printf("Signature INVALID\n");
        return ST_INVALID;
    }
    return ReportCk("C_Verify", rv);
}

int DoSign(SvcParams& p) {
    int status = ST_OK;
    if (!Prepare(p, status))
        return status;
    const CK_OBJECT_HANDLE key = FindOneKey(p, CKO_PRIVATE_KEY);
    switch (ReadULong(p, key, CKA_KEY_TYPE)) {
    case CKK_DSTU4145: return DoIntSign(p, key, CKM_DSTU4145);
    case CKK_EC: return DoIntSign(p, key, CKM_ECDSA_SHA256);
    case CKK_RSA: return DoIntSign(p, key, CKM_RSA_PKCS);
    default: return UnknownKeyType();
    }
}

int DoVerify(SvcParams& p) {
    if (p.signature.Empty())
        Refuse("Error: no signature to verify: give -signature=HEX or -signature=file:NAME\n");
    int status = ST_OK;
    if (!Prepare(p, status))
        return status;
    const CK_OBJECT_HANDLE key = FindOneKey(p, CKO_PUBLIC_KEY);
    switch (ReadULong(p, key, CKA_KEY_TYPE)) {
    case CKK_DSTU4145: return DoIntVerify(p, key, CKM_DSTU4145);
    case CKK_EC:
        std::fflush(stdout);
        std::fprintf(stderr, "Error: verify is not offered for EC keys\n");
        return ST_ERROR;
    case CKK_RSA: return DoIntVerify(p, key, CKM_RSA_PKCS);
    default: return UnknownKeyType();
    }
}

}  // namespace zrsvc
