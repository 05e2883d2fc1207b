// "generate": key pairs on the token.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "converters.h"
#include "session.h"
#include "words.h"

namespace zrsvc {

namespace {

// The optional attributes of both halves: -id, -subject and -label, each when given.
void AddOptional(ObjectTemplate& t, const SvcParams& p) {
    if (!p.id.Empty())
        t.AddBytes(CKA_ID, p.id);
    if (!p.subject.Empty())
        t.AddBytes(CKA_SUBJECT, p.subject);
    if (!p.label.empty())
        t.Add(CKA_LABEL, p.label.data(), p.label.size());
}

struct Curve {
    unsigned long bits;
    std::string der;
    const char* name;
};

const Curve kCurves[] = {
    {192, std::string("\x06\x08\x2A\x86\x48\xCE\x3D\x03\x01\x01", 10), "192-bits NIST curve"},
    {224, std::string("\x06\x05\x2B\x81\x04\x00\x21", 7), "224-bits NIST curve"},
    {256, std::string("\x06\x08\x2A\x86\x48\xCE\x3D\x03\x01\x07", 10), "256-bits NIST curve"},
    {384, std::string("\x06\x05\x2B\x81\x04\x00\x22", 7), "384-bits NIST curve"},
    {521, std::string("\x06\x05\x2B\x81\x04\x00\x23", 7), "521-bits NIST curve"},
};

// Opens and logs in, announces, generates and reports.
int Generate(SvcParams& p, CK_MECHANISM_TYPE mechanism, ObjectTemplate& pub, ObjectTemplate& priv, const std::string& announce) {
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    if (!p.quiet)
        std::printf("%s", announce.c_str());
    CK_MECHANISM m{mechanism, nullptr, 0};
    CK_OBJECT_HANDLE pubHandle = 0, privHandle = 0;
    vdk::TimeCounter watch;
    watch.Start();
    const CK_RV rv = p.functions->C_GenerateKeyPair(p.finalizer->Session(), &m, pub.Data(), pub.Count(), priv.Data(),
                                                    priv.Count(), &pubHandle, &privHandle);
    if (rv != CKR_OK)
        return ReportCk("C_GenerateKeyPair", rv);
    watch.Stop();
    return FinishTimed(p, watch);
}

}  // namespace

std::string ConvertBitsToECDsaParams(unsigned long bits) {
    for (const Curve& c : kCurves)
        if (c.bits == bits)
            return c.der;
    return std::string();
}

const char* ConvertBitsToECDsaName(unsigned long bits) {
    for (const Curve& c : kCurves)
        if (c.bits == bits)
            return c.name;
    return "Unknown curve";
}

int DoGenRSA(SvcParams& p) {
    static const CK_BYTE kExponent[] = {0x01, 0x00, 0x01};
    ObjectTemplate pub(16), priv(22);
    pub.AddULong(CKA_CLASS, CKO_PUBLIC_KEY);
    pub.AddULong(CKA_KEY_TYPE, CKK_RSA);
    pub.AddBool(CKA_TOKEN, true);  // the public key outlives the run
    pub.AddBool(CKA_ENCRYPT, true);
    pub.AddULong(CKA_MODULUS_BITS, p.bits);
    pub.Add(CKA_PUBLIC_EXPONENT, kExponent, sizeof kExponent);
    AddOptional(pub, p);
    priv.AddULong(CKA_CLASS, CKO_PRIVATE_KEY);
    priv.AddULong(CKA_KEY_TYPE, CKK_RSA);
    priv.AddBool(CKA_TOKEN, true);
    priv.AddBool(CKA_DECRYPT, true);
    AddOptional(priv, p);
    priv.AddExtra(p.attr);
    return Generate(p, CKM_RSA_PKCS_KEY_PAIR_GEN, pub, priv,
                    "Generating RSA " + std::to_string(p.bits) + "-bits keypair...\n");
}

int DoGenECDsa(SvcParams& p) {
    // The token has these three curves; without -bits, P-256.
    const unsigned long bits = p.bitsGiven ? static_cast<unsigned long>(p.bits) : 256;
    if (bits != 192 && bits != 256 && bits != 521)
        Refuse("Error: -bits for an ecdsa key pair must be 192, 256 or 521 (the token's NIST curves)\n");
    ObjectTemplate pub(16), priv(22);
    pub.AddULong(CKA_CLASS, CKO_PUBLIC_KEY);
    pub.AddULong(CKA_KEY_TYPE, CKK_EC);
    pub.AddBool(CKA_TOKEN, true);
    pub.AddBool(CKA_VERIFY, true);
    AddOptional(pub, p);
    const std::string params = ConvertBitsToECDsaParams(bits);
    pub.Add(CKA_EC_PARAMS, params.data(), params.size());
    const std::string announce =
        std::string("Generating EC DSA keypair with EC parameters: ") + ConvertBitsToECDsaName(bits) + "...";
    priv.AddULong(CKA_CLASS, CKO_PRIVATE_KEY);
    priv.AddULong(CKA_KEY_TYPE, CKK_EC);
    priv.AddBool(CKA_TOKEN, true);
    priv.AddBool(CKA_SIGN, true);
    AddOptional(priv, p);
    priv.AddExtra(p.attr);
    return Generate(p, CKM_EC_KEY_PAIR_GEN, pub, priv, announce + "\n");
}

int DoGenDstu4145(SvcParams& p) {
    ObjectTemplate pub(16), priv(35);
    pub.AddULong(CKA_CLASS, CKO_PUBLIC_KEY);
    pub.AddULong(CKA_KEY_TYPE, CKK_DSTU4145);
    pub.AddBool(CKA_TOKEN, true);  // the public key outlives the run
    pub.AddBool(CKA_VERIFY, true);
    AddOptional(pub, p);
    priv.AddULong(CKA_CLASS, CKO_PRIVATE_KEY);
    priv.AddULong(CKA_KEY_TYPE, CKK_DSTU4145);
    priv.AddBool(CKA_TOKEN, true);
    priv.AddBool(CKA_SIGN, true);
    AddOptional(priv, p);
    priv.AddExtra(p.attr);
    return Generate(p, CKM_DSTU4145_KEY_PAIR_GEN, pub, priv,
                    "Generating DSTU 4145 keypair with default EC parameters...\n");
}

int DoGenerate(SvcParams& p) {
    switch (p.keyType) {
    case KT_RSA: return DoGenRSA(p);
    case KT_ECDSA: return DoGenECDsa(p);
    case KT_DSTU4145: return DoGenDstu4145(p);
    default: return UnknownKeyType();
    }
}

}  // namespace zrsvc
