// "load" creates one token object from a file; "unload" writes one object's value to a file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "certificate.h"
#include "commands.h"
#include "converters.h"
#include "session.h"
#include "support/safe_buffer.h"
#include "words.h"

namespace zrsvc {

namespace {

constexpr CK_ULONG kLoadRoom = 25;

int Create(SvcParams& p, ObjectTemplate& t, const std::string& announce) {
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    if (!p.quiet)
        std::printf("%s", announce.c_str());
    vdk::TimeCounter watch;
    watch.Start();
    CK_OBJECT_HANDLE handle = 0;
    const CK_RV rv = p.functions->C_CreateObject(p.finalizer->Session(), t.Data(), t.Count(), &handle);
    if (rv != CKR_OK)
        return ReportCk("C_CreateObject", rv);
    watch.Stop();
    return FinishTimed(p, watch);
}

std::string Announce(const char* kind, const SvcParams& p) {
    char text[4096];
    std::snprintf(text, sizeof text, "Loading %s from file %s with label \"%s\"...\n", kind, p.file.c_str(), p.label.c_str());
    return text;
}

void AddCommon(ObjectTemplate& t, const SvcParams& p, bool withSubject) {
    t.Add(CKA_LABEL, p.label.data(), p.label.size());
    t.AddBytes(CKA_ID, p.id);
    if (withSubject)
        t.AddBytes(CKA_SUBJECT, p.subject);
}

}  // namespace

int DoLoadPublicKey(SvcParams& p) {
    const CK_KEY_TYPE keyType = ConvertKeyTypeForToken(p.keyType);
    if (keyType != CKK_RSA && keyType != CKK_EC && keyType != CKK_DSTU4145)
        Refuse("Error: only rsa, ecdsa and dstu4145 public keys can be loaded\n");
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    tru::BufferDynamic value;
    LoadFile(p.file, value, "Cannot load data file ");
    ObjectTemplate t(kLoadRoom);
    t.AddULong(CKA_CLASS, CKO_PUBLIC_KEY);
    t.AddULong(CKA_KEY_TYPE, keyType);
    t.AddBool(CKA_TOKEN, true);
    t.AddBool(CKA_PRIVATE, p.privateZone);
    AddCommon(t, p, true);
    t.AddBytes(keyType == CKK_RSA ? CKA_MODULUS : CKA_EC_POINT, value);
    if (!p.params.Empty())
        t.AddBytes(keyType == CKK_RSA ? CKA_PUBLIC_EXPONENT : CKA_EC_PARAMS, p.params);
    t.AddExtra(p.attr);
    return Create(p, t, Announce("public key", p));
}

int DoLoadPrivateKey(SvcParams& p) {
    const CK_KEY_TYPE keyType = ConvertKeyTypeForToken(p.keyType);
    if (keyType != CKK_EC && keyType != CKK_DSTU4145)
        Refuse("Error: only ecdsa and dstu4145 private keys can be loaded\n");
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    vdk::SafeBuffer value;  // key bytes are wiped after use
    LoadFile(p.file, value, "Cannot load data file ");
    ObjectTemplate t(kLoadRoom);
    t.AddULong(CKA_CLASS, CKO_PRIVATE_KEY);
    t.AddULong(CKA_KEY_TYPE, keyType);
    t.AddBool(CKA_TOKEN, true);
    t.AddBool(CKA_PRIVATE, true);
    AddCommon(t, p, true);
    t.AddBytes(CKA_VALUE, value);
    if (!p.params.Empty())
        t.AddBytes(CKA_EC_PARAMS, p.params);
    t.AddExtra(p.attr);
    return Create(p, t, Announce("private key", p));
}

int DoLoadSecretKey(SvcParams&) {
    // The only key type a file could give is a generic secret, which this token does not keep.
    Refuse("Error: secret keys cannot be loaded: the token keeps no generic secret keys\n");
}

int DoLoadCert(SvcParams& p) {
    // Read and checked before the token is touched.
    tru::BufferDynamic value;
    LoadFile(p.file, value, "Cannot load data file ");
    tru::BufferDynamic subject;
    if (p.subject.Empty() && !CertificateSubject(value, subject)) {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: \"%s\" is no DER certificate: nothing was loaded\n", p.file.c_str());
        throw ExitStatus{ST_ERROR};
    }
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    ObjectTemplate t(kLoadRoom);
    t.AddULong(CKA_CLASS, CKO_CERTIFICATE);
    t.AddULong(CKA_CERTIFICATE_TYPE, CKC_X_509);
    t.AddBool(CKA_TOKEN, true);
    t.AddBool(CKA_PRIVATE, p.privateZone);
    AddCommon(t, p, false);
    // -subject when given, else the certificate's own.
    t.AddBytes(CKA_SUBJECT, p.subject.Empty() ? subject : p.subject);
    t.AddBytes(CKA_VALUE, value);
    return Create(p, t, Announce("certificate", p));
}

int DoLoadData(SvcParams& p) {
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    tru::BufferDynamic value;
    LoadFile(p.file, value, "Cannot load data file ");
    const uint32_t fileSize = value.Size();
    const char* zone = p.privateZone ? "private zone" : "public zone";
    char announce[8192];
    if (p.size != 0) {
        if (p.size > 0xFFFFFFFFu)
            throw tru::Exception(tru::ERROR_MEM);
        const uint32_t size = static_cast<uint32_t>(p.size);
        const tru::TResult code = value.Realloc(size);
        if (code != tru::SUCCESS)
            throw tru::Exception(code);
        // Bytes beyond the file are zeros, never leftover memory.
        if (size > fileSize)
            std::memset(value.Data() + fileSize, 0, size - fileSize);
        std::snprintf(announce, sizeof announce,
                      "Loading data object from file \"%s\" (%s to %lu bytes) with label \"%s\" into %s...\n",
                      p.file.c_str(), p.size < fileSize ? "shrinked" : "enlarged", static_cast<unsigned long>(p.size),
                      p.label.c_str(), zone);
    } else {
        std::snprintf(announce, sizeof announce,
                      "Loading data object from file \"%s\" (%lu bytes) with label \"%s\" into %s...\n", p.file.c_str(),
                      static_cast<unsigned long>(fileSize), p.label.c_str(), zone);
    }
    ObjectTemplate t(kLoadRoom);
    t.AddULong(CKA_CLASS, CKO_DATA);
    t.AddBool(CKA_TOKEN, true);
    t.AddBool(CKA_PRIVATE, p.privateZone);
    t.Add(CKA_LABEL, p.label.data(), p.label.size());
    t.AddBytes(CKA_OBJECT_ID, p.id);
    t.Add(CKA_APPLICATION, p.application.data(), p.application.size());
    t.AddBytes(CKA_VALUE, value);
    return Create(p, t, announce);
}

int DoLoad(SvcParams& p) {
    switch (p.objectType) {
    case OT_PUBLIC_KEYS: return DoLoadPublicKey(p);
    case OT_PRIVATE_KEYS: return DoLoadPrivateKey(p);
    case OT_SECRET_KEYS: return DoLoadSecretKey(p);
    case OT_CERTIFICATES: return DoLoadCert(p);
    case OT_DATA: return DoLoadData(p);
    default: return UnknownType(p);
    }
}

namespace {

struct UnloadKind {
    CK_OBJECT_CLASS objectClass;
    const char* notFound;
    const char* many;
    const char* saved;
};

int Unload(SvcParams& p, const UnloadKind& kind) {
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    const bool data = kind.objectClass == CKO_DATA;
    Search search;
    search.AddULong(CKA_CLASS, kind.objectClass);
    if (data) {
        if (!p.id.Empty())
            search.Add(CKA_OBJECT_ID, p.id.Data(), p.id.Size());
        if (!p.label.empty())
            search.Add(CKA_LABEL, p.label.data(), p.label.size());
        if (!p.application.empty())
            search.Add(CKA_APPLICATION, p.application.data(), p.application.size());
    } else {
        search.AddIdLabelSubject(p);
    }
    vdk::TimeCounter watch;
    watch.Start();
    const std::vector<CK_OBJECT_HANDLE> found = FindAll(p, search);
    if (found.empty()) {
        std::fprintf(stderr, "%s", kind.notFound);
        return ST_ERROR;
    }
    if (found.size() > 1 && !p.quiet)
        std::printf(kind.many, static_cast<unsigned>(found.size()));
    const CK_OBJECT_HANDLE object = found[0];
    CK_ATTRIBUTE_TYPE valueType = CKA_VALUE;
    if (kind.objectClass == CKO_PUBLIC_KEY) {
        const CK_KEY_TYPE keyType = ReadULong(p, object, CKA_KEY_TYPE);
        if (keyType == CKK_RSA)
            valueType = CKA_MODULUS;
        else if (keyType == CKK_EC || keyType == CKK_DSTU4145)
            valueType = CKA_EC_POINT;  // EC public keys keep their value there
    }
    // The value's length and CKA_PRIVATE in one call; an object that does not say counts as private.
    CK_BBOOL privateFlag = CK_TRUE;
    CK_ATTRIBUTE query[2] = {{valueType, nullptr, 0}, {CKA_PRIVATE, &privateFlag, sizeof privateFlag}};
    CK_RV rv = p.functions->C_GetAttributeValue(p.finalizer->Session(), object, query, 2);
    if (rv != CKR_OK) {
        query[0].ulValueLen = 0;
        query[1].ulValueLen = 0;
        rv = p.functions->C_GetAttributeValue(p.finalizer->Session(), object, query, 1);
    }
    if (rv != CKR_OK)
        return ReportCk("C_GetAttributeValue", rv);
    const bool secret = kind.objectClass == CKO_SECRET_KEY || kind.objectClass == CKO_PRIVATE_KEY ||
                        query[1].ulValueLen != sizeof privateFlag || privateFlag != CK_FALSE;
    CK_ATTRIBUTE read = query[0];
    if (read.ulValueLen > 0xFFFFFFFFu)
        return ReportCk("C_GetAttributeValue", CKR_GENERAL_ERROR);
    vdk::SafeBuffer value(static_cast<uint32_t>(read.ulValueLen));
    read.pValue = value.Data();
    rv = p.functions->C_GetAttributeValue(p.finalizer->Session(), object, &read, 1);
    if (rv != CKR_OK)
        return ReportCk("C_GetAttributeValue", rv);
    watch.Stop();
    const tru::Buffer bytes(value.Data(), static_cast<uint32_t>(std::min<CK_ULONG>(read.ulValueLen, value.Size())));
    if (secret)
        SaveSecretFile(p.file, bytes);
    else
        SaveFile(p.file, bytes);
    if (!p.quiet) {
        std::printf(kind.saved, static_cast<unsigned long>(bytes.Size()), p.file.c_str());
        std::printf("Done in %s.\n", watch.GetAsStr().c_str());
    }
    if (p.statistics)
        DoStatistic(p);
    return ST_OK;
}

}  // namespace

int DoUnloadPublicKey(SvcParams& p) {
    return Unload(p, {CKO_PUBLIC_KEY, "Public key not found\n", "%u public key found, only the first one would be saved.\n",
                      "Public key (%lu bytes) saved to file %s.\n"});
}
int DoUnloadPrivKey(SvcParams& p) {
    return Unload(p, {CKO_PRIVATE_KEY, "Private key not found\n",
                      "%u private key found, only the first one would be saved.\n",
                      "Private key (%lu bytes) saved to file %s.\n"});
}
int DoUnloadSecretKey(SvcParams& p) {
    return Unload(p, {CKO_SECRET_KEY, "Secret key not found\n", "%u secret key found, only the first one would be saved.\n",
                      "Secret key (%lu bytes) saved to file %s.\n"});
}
int DoUnloadCert(SvcParams& p) {
    return Unload(p, {CKO_CERTIFICATE, "Certificate not found\n",
                      "%u certificates found, only the first one would be saved.\n",
                      "Certificate (%lu bytes) saved to file %s.\n"});
}
int DoUnloadData(SvcParams& p) {
    return Unload(p, {CKO_DATA, "Data object not found\n", "%u data objects found, only the first one will be saved\n",
                      "Data object (%lu bytes) saved to file %s.\n"});
}

int DoUnload(SvcParams& p) {
    if (p.file.empty()) {
        std::fprintf(stderr, "Cannot proceed: no '-file' parameter specified\n");
        return ST_NO_FILE;
    }
    switch (p.objectType) {
    case OT_PUBLIC_KEYS: return DoUnloadPublicKey(p);
    case OT_PRIVATE_KEYS: return DoUnloadPrivKey(p);
    case OT_SECRET_KEYS: return DoUnloadSecretKey(p);
    case OT_CERTIFICATES: return DoUnloadCert(p);
    case OT_DATA: return DoUnloadData(p);
    default: return UnknownType(p);
    }
}

}  // namespace zrsvc
