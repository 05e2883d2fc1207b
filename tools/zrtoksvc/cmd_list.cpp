// "list": objects by kind, domain parameters and mechanisms.
#include <cstdio>
#include <vector>

#include "commands.h"
#include "cryptoki/names/ck_names.h"
#include "session.h"
#include "words.h"

namespace zrsvc {

namespace {

struct Listing {
    const char* title;
    CK_OBJECT_CLASS objectClass;
    bool keyFilter;
    enum { NO_TEXT, LABEL, APPLICATION } text;
    const char* item;
    ESearchZone zone;
    bool needsLogin;
};

// One lister's cycles: open and try the login, print the listings, -s, close, -t.
int RunListings(SvcParams& p, const std::vector<Listing>& listings) {
    int status = ST_OK;
    for (;;) {
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        bool logged = false;
        const int open = OpenAndTryLogin(p, false, logged);
        if (open != ST_OK)
            return open;
        for (const Listing& l : listings) {
            if (l.needsLogin && !logged)
                continue;
            const CK_KEY_TYPE keyType = l.keyFilter ? ConvertKeyTypeForToken(p.keyType) : kNoKeyType;
            const std::string text = l.text == Listing::LABEL ? p.label
                                     : l.text == Listing::APPLICATION ? p.application
                                                                      : std::string();
            const SearchResult result = PrintObjects(p.functions, *p.finalizer, l.title, l.objectClass, keyType, p.id,
                                                     text, p.subject, l.item, l.zone, p.longForm);
            if (result.status != ST_OK)
                status = result.status;
        }
        if (status != ST_OK || !EndCycle(p, status))
            return status;
    }
}

}  // namespace

int DoListKeys(SvcParams& p, EObjectType kind) {
    switch (kind) {
    case OT_PRIVATE_KEYS:
        return RunListings(p, {{"Private keys", CKO_PRIVATE_KEY, true, Listing::LABEL, "Private key", SZ_PRIVATE, true},
                               {"Private keys (public zone)", CKO_PRIVATE_KEY, true, Listing::LABEL, "Private key",
                                SZ_PUBLIC, false}});
    case OT_PUBLIC_KEYS:
        return RunListings(p, {{"Public keys", CKO_PUBLIC_KEY, true, Listing::LABEL, "Public key", SZ_PUBLIC, false},
                               {"Public keys (private zone)", CKO_PUBLIC_KEY, true, Listing::LABEL, "Public key",
                                SZ_PRIVATE, true}});
    default:
        return RunListings(p, {{"Secret keys", CKO_SECRET_KEY, true, Listing::LABEL, "Secret key", SZ_PRIVATE, true},
                               {"Secret keys (public zone)", CKO_SECRET_KEY, true, Listing::LABEL, "Secret key",
                                SZ_PUBLIC, false}});
    }
}

int DoListCertificates(SvcParams& p) {
    return RunListings(p, {{"Public Certificates", CKO_CERTIFICATE, false, Listing::NO_TEXT, "Certificate", SZ_PUBLIC, false},
                           {"Private Certificates", CKO_CERTIFICATE, false, Listing::NO_TEXT, "Certificate", SZ_PRIVATE,
                            true}});
}

int DoListDataObjects(SvcParams& p) {
    return RunListings(p, {{"Public Data Objects", CKO_DATA, false, Listing::APPLICATION, "Data", SZ_PUBLIC, false},
                           {"Private Data Objects", CKO_DATA, false, Listing::APPLICATION, "Data", SZ_PRIVATE, true}});
}

int DoListHardwareFeatures(SvcParams& p) {
    return RunListings(p, {{"Hardware Features", CKO_HW_FEATURE, false, Listing::APPLICATION, "Hardware Feature", SZ_ANY,
                            false}});
}

int DoListParams(SvcParams& p) {
    CK_FUNCTION_LIST_PTR f = p.functions;
    CK_OBJECT_CLASS paramsClass = CKO_DOMAIN_PARAMETERS;
    CK_KEY_TYPE keyType = ConvertKeyTypeForToken(p.keyType);
    std::vector<CK_ATTRIBUTE> search{{CKA_CLASS, &paramsClass, sizeof paramsClass}};
    if (keyType != kNoKeyType)
        search.push_back({CKA_KEY_TYPE, &keyType, sizeof keyType});
    if (!p.label.empty())
        search.push_back({CKA_LABEL, const_cast<char*>(p.label.data()), p.label.size()});
    if (!p.id.Empty())
        search.push_back({CKA_OBJECT_ID, p.id.Data(), p.id.Size()});
    int status = ST_OK;
    for (;;) {
        bool logged = false;
        const int open = OpenAndTryLogin(p, false, logged);
        if (open != ST_OK)
            return open;
        std::printf(logged ? "\nDomain Parameters:\n---------------------------\n"
                           : "\nPublic Domain Parameters:\n---------------------------\n");
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        const CK_SESSION_HANDLE session = p.finalizer->Session();
        CK_RV rv = f->C_FindObjectsInit(session, search.data(), search.size());
        if (rv != CKR_OK)
            return ReportCk("C_FindObjectsInit", rv);
        {
            FindGuard guard(f, session);
            CK_ULONG number = 0;
            for (;;) {
                CK_OBJECT_HANDLE handles[100] = {};
                CK_ULONG found = 0;
                rv = f->C_FindObjects(session, handles, 100, &found);
                if (rv != CKR_OK)
                    return ReportCk("C_FindObjects", rv);
                if (found == 0)
                    break;
                for (CK_ULONG i = 0; i < found && i < 100; ++i) {
                    std::printf("Domain Parameters #%lu (handle: %lu) attributes:\n", ++number, handles[i]);
                    PrintAttributes(*p.finalizer, handles[i], p.longForm);
                }
            }
            rv = guard.Final();
            if (rv != CKR_OK)
                return ReportCk("C_FindObjectsFinal", rv);
        }
        if (!EndCycle(p, status))
            return status;
    }
}

int DoListMechanisms(SvcParams& p) {
    CK_FUNCTION_LIST_PTR f = p.functions;
    int status = ST_OK;
    for (;;) {
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        const int open = p.finalizer->OpenSessionInt(p.slot);
        if (open != ST_OK)
            return open;
        CK_ULONG n = 0;
        CK_RV rv = f->C_GetMechanismList(p.slot, nullptr, &n);
        if (rv != CKR_OK)
            return ReportCk("C_GetMechanismList", rv);
        std::printf("\nMechanisms:\n---------------------------\n");
        std::vector<CK_MECHANISM_TYPE> list(n + 1);
        rv = f->C_GetMechanismList(p.slot, list.data(), &n);
        if (rv != CKR_OK)
            return ReportCk("C_GetMechanismList", rv);
        for (CK_ULONG i = 0; i < n; ++i) {
            std::printf("%s #%u -\t%s", "Mechanism", static_cast<unsigned>(i + 1), zrck::GetMechanismStr(list[i]).c_str());
            if (!p.longForm) {
                CK_MECHANISM_INFO info{};
                rv = f->C_GetMechanismInfo(p.slot, list[i], &info);
                if (rv != CKR_OK) {
                    std::printf("\n");
                    return ReportCk("C_GetMechanismInfo", rv);
                }
                std::printf(" [%s]", GetMechanismFlagsStr(info.flags).c_str());
            }
            std::printf("\n");
        }
        if (p.longForm) {
            const struct {
                const char* name;
                CK_FLAGS bit;
            } flags[] = {{"HW", CKF_HW},
                         {"ENCRYPT", CKF_ENCRYPT},
                         {"DECRYPT", CKF_DECRYPT},
                         {"DIGEST", CKF_DIGEST},
                         {"SIGN", CKF_SIGN},
                         {"SIGN_RECOVER", CKF_SIGN_RECOVER},
                         {"VERIFY", CKF_VERIFY},
                         {"VERIFY_RECOVER", CKF_VERIFY_RECOVER},
                         {"GENERATE", CKF_GENERATE},
                         {"GENERATE_KEY_PAIR", CKF_GENERATE_KEY_PAIR},
                         {"WRAP", CKF_WRAP},
                         {"UNWRAP", CKF_UNWRAP},
                         {"DERIVE", CKF_DERIVE},
                         {"EXTENSION", CKF_EXTENSION}};
            for (CK_ULONG i = 0; i < n; ++i) {
                CK_MECHANISM_INFO info{};
                rv = f->C_GetMechanismInfo(p.slot, list[i], &info);
                if (rv != CKR_OK)
                    return ReportCk("C_GetMechanismInfo", rv);
                std::printf("\t    [%u]: CK_MECHANISM_TYPE = %lu \"%s\"\n", static_cast<unsigned>(i + 1), list[i],
                            zrck::GetMechanismStr(list[i]).c_str());
                std::printf("\t    ulMinKeySize = %lu\n", info.ulMinKeySize);
                std::printf("\t    ulMaxKeySize = %lu\n", info.ulMaxKeySize);
                std::printf("\t    flags = 0x%lx\n", info.flags);
                for (const auto& flag : flags)
                    std::printf("\t        -> %s = %s\n", flag.name, (info.flags & flag.bit) ? "TRUE" : "FALSE");
            }
        }
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        if (!EndCycle(p, status))
            return status;
    }
}

int DoList(SvcParams& p) {
    switch (p.objectType) {
    case OT_PUBLIC_KEYS:
    case OT_PRIVATE_KEYS:
    case OT_SECRET_KEYS:
        return DoListKeys(p, p.objectType);
    case OT_CERTIFICATES:
        return DoListCertificates(p);
    case OT_DATA:
        return DoListDataObjects(p);
    case OT_PARAMS:
        return DoListParams(p);
    case OT_MECHANISMS:
        return DoListMechanisms(p);
    case OT_HW_FEATURES:
        return DoListHardwareFeatures(p);
    case OT_NONE:
    case OT_ALL:
    case OT_KEYS:
        break;
    }
    const bool all = p.objectType != OT_KEYS;
    const bool repeat = p.repeat;
    int status = ST_OK;
    for (;;) {
        p.repeat = false;
        status |= DoListKeys(p, OT_PRIVATE_KEYS);
        status |= DoListKeys(p, OT_PUBLIC_KEYS);
        status |= DoListKeys(p, OT_SECRET_KEYS);
        if (all) {
            status |= DoListCertificates(p);
            status |= DoListDataObjects(p);
            status |= DoListParams(p);
            status |= DoListMechanisms(p);
            status |= DoListHardwareFeatures(p);
        }
        p.repeat = repeat;
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        // The set repeats with the same pause as every other command, never in a busy loop.
        if (!RepeatAfterPause(p, status))
            return status;
    }
}

}  // namespace zrsvc
