// "hash", "encrypt" and "decrypt" of a file on the token.
#include <cstdio>
#include <memory>
#include <vector>

#include "commands.h"
#include "converters.h"
#include "session.h"
#include "support/safe_buffer.h"
#include "words.h"

namespace zrsvc {

namespace {

constexpr size_t kPiece = 0x40000;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

int Digest(SvcParams& p, CK_MECHANISM_TYPE mechanism) {
    ReadTokenParams(p);
    if (p.file.empty()) {
        std::fprintf(stderr, "Cannot proceed: no file specified\n");
        return ST_ERROR;
    }
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    if (!p.password.empty() || p.loginRequired) {
        bool logged = false;
        const int open = OpenAndTryLogin(p, false, logged);
        if (open != ST_OK)
            return open;
    } else {
        const int open = p.finalizer->OpenSessionInt(p.slot);
        if (open != ST_OK)
            return open;
    }
    std::unique_ptr<FILE, FileCloser> file(std::fopen(p.file.c_str(), "rb"));
    if (!file) {
        std::fprintf(stderr, "Cannot open file \"%s\"\n", p.file.c_str());
        return ST_ERROR;
    }
    CK_FUNCTION_LIST_PTR f = p.functions;
    const CK_SESSION_HANDLE session = p.finalizer->Session();
    vdk::TimeCounter watch;
    watch.Start();
    CK_MECHANISM m{mechanism, nullptr, 0};
    CK_RV rv = f->C_DigestInit(session, &m);
    if (rv != CKR_OK)
        return ReportCk("C_DigestInit", rv);
    std::vector<uint8_t> piece(kPiece);
    for (;;) {
        const size_t n = std::fread(piece.data(), 1, piece.size(), file.get());
        if (n > 0) {
            rv = f->C_DigestUpdate(session, piece.data(), n);
            if (rv != CKR_OK)
                return ReportCk("C_DigestUpdate", rv);
        }
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        // A read error is no end of file: never print the digest of a truncated file.
        if (std::ferror(file.get())) {
            std::fprintf(stderr, "Cannot read file \"%s\"\n", p.file.c_str());
            return ST_ERROR;
        }
        if (n < piece.size())
            break;
    }
    uint8_t digest[256];
    CK_ULONG length = sizeof digest;
    rv = f->C_DigestFinal(session, digest, &length);
    if (rv != CKR_OK)
        return ReportCk("C_DigestFinal", rv);
    watch.Stop();
    const tru::Buffer bytes(digest, static_cast<uint32_t>(std::min<CK_ULONG>(length, sizeof digest)));
    std::printf("%s\n", bytes.ToHex().c_str());
    if (!p.out_file.empty()) {
        SaveFile(p.out_file, bytes);  // a failed write ends the run with status 1
        if (!p.quiet)
            std::printf("%s file saved.\n", p.out_file.c_str());
    }
    p.finalizer->CloseSession();
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    if (!p.quiet)
        std::printf("Done in %s.\n", watch.GetAsStr().c_str());
    return ST_OK;
}

int DoUAGost89Encryption(SvcParams& p, CK_OBJECT_HANDLE key, int operation) {
    vdk::SafeBuffer input;
    LoadFile(p.file, input, "Cannot load data file ");
    if (input.Empty()) {
        std::fprintf(stderr, "Input file empty\n");
        throw SilentFailure{};
    }
    vdk::SafeBuffer output(input.Size());
    CK_MECHANISM_TYPE type = 0;
    switch (p.mode) {
    case EM_ECB: type = CKM_GOST28147_ECB_NAT; break;
    case EM_CTR: type = CKM_GOST28147_CNT; break;
    default: type = CKM_GOST28147_CFB; break;
    }
    CK_MECHANISM m{type, p.synchro.Empty() ? nullptr : p.synchro.Data(), p.synchro.Size()};
    CK_FUNCTION_LIST_PTR f = p.functions;
    const CK_SESSION_HANDLE session = p.finalizer->Session();
    CK_ULONG length = output.Size();
    if (operation == 1) {
        CK_RV rv = f->C_EncryptInit(session, &m, key);
        if (rv != CKR_OK)
            return ReportCk("C_EncryptInit", rv);
        rv = f->C_Encrypt(session, input.Data(), input.Size(), output.Data(), &length);
        if (rv != CKR_OK)
            return ReportCk("C_Encrypt", rv);
    } else {
        CK_RV rv = f->C_DecryptInit(session, &m, key);
        if (rv != CKR_OK)
            return ReportCk("C_DecryptInit", rv);
        rv = f->C_Decrypt(session, input.Data(), input.Size(), output.Data(), &length);
        if (rv != CKR_OK)
            return ReportCk("C_Decrypt", rv);
    }
    const tru::Buffer result(output.Data(), static_cast<uint32_t>(std::min<CK_ULONG>(length, output.Size())));
    if (operation == 1)
        SaveFile(p.out_file, result);
    else
        SaveSecretFile(p.out_file, result);
    std::printf("%s file saved.\n", p.out_file.c_str());
    return ST_OK;
}

int DoCryptOperation(SvcParams& p, int operation) {
    if (p.file.empty()) {
        std::fprintf(stderr, "File parameter not defined\n");
        throw SilentFailure{};
    }
    if (p.out_file.empty()) {
        std::fprintf(stderr, "Output file parameter not defined\n");
        throw SilentFailure{};
    }
    // Checked before the token is touched: the library would only refuse mechanism 0.
    if (p.mode != EM_ECB && p.mode != EM_CTR && p.mode != EM_CFB)
        Refuse("Error: -mode must be ecb, ctr or cfb\n");
    if (!p.key_value.Empty() && p.keyType == KT_NONE)
        Refuse("Error: -key_value needs -key_type\n");
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    CK_OBJECT_HANDLE key = 0;
    CK_KEY_TYPE keyType = 0;
    if (!p.key_value.Empty()) {
        CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
        keyType = ConvertKeyTypeForToken(p.keyType);
        CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
        CK_ATTRIBUTE keyTemplate[] = {{CKA_CLASS, &secret, sizeof secret},   {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                      {CKA_TOKEN, &no, 1},                   {CKA_ENCRYPT, &yes, 1},
                                      {CKA_DECRYPT, &yes, 1},                {CKA_VALUE, p.key_value.Data(), p.key_value.Size()}};
        const CK_RV rv = p.functions->C_CreateObject(p.finalizer->Session(), keyTemplate, 6, &key);
        if (rv != CKR_OK)
            return ReportCk("C_CreateObject", rv);
    } else {
        key = FindOneKey(p, CKO_SECRET_KEY);
        keyType = ReadULong(p, key, CKA_KEY_TYPE);
    }
    if (keyType != CKK_GOST28147_NAT)
        return UnknownKeyType();
    return DoUAGost89Encryption(p, key, operation);
}

}  // namespace

int DoHash(SvcParams& p) {
    switch (p.hashType) {
    case HT_SHA1: return Digest(p, CKM_SHA_1);
    case HT_SHA256: return Digest(p, CKM_SHA256);
    case HT_GOST: return Digest(p, CKM_GOST34311);
    case HT_NONE: Refuse("Error: no hash type given: -hash_type=sha1, sha256 or gost\n");
    default: Refuse("Error: this token hashes with sha1, sha256 or gost only\n");
    }
}

int DoEncrypt(SvcParams& p) { return DoCryptOperation(p, 1); }
int DoDecrypt(SvcParams& p) { return DoCryptOperation(p, 2); }

}  // namespace zrsvc
