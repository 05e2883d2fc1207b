// "set" writes -attr into matching objects; "delete" destroys matching objects.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "converters.h"
#include "cryptoki/names/ck_names.h"
#include "session.h"
#include "words.h"

namespace zrsvc {

namespace {

constexpr CK_ULONG kSetRoom = 25;

// The class searched for a -type; false for types without one.
bool ClassOfType(EObjectType type, CK_OBJECT_CLASS& objectClass) {
    switch (type) {
    case OT_PUBLIC_KEYS: objectClass = CKO_PUBLIC_KEY; return true;
    case OT_PRIVATE_KEYS: objectClass = CKO_PRIVATE_KEY; return true;
    case OT_SECRET_KEYS: objectClass = CKO_SECRET_KEY; return true;
    case OT_CERTIFICATES: objectClass = CKO_CERTIFICATE; return true;
    case OT_DATA: objectClass = CKO_DATA; return true;
    case OT_PARAMS: objectClass = CKO_DOMAIN_PARAMETERS; return true;
    default: return false;
    }
}

bool Confirm(const SvcParams& p, const char* text) {
    if (p.quiet || p.yes)
        return true;
    std::printf("ALL %s WILL BE %s!\n", text, "DELETED");
    return AskYesNo();
}

}  // namespace

int DoSetAttr(SvcParams& p) {
    if (p.objectType == OT_PARAMS || p.objectType == OT_MECHANISMS || p.objectType == OT_HW_FEATURES)
        return UnknownType(p);
    // The template is checked before the token is touched.
    CK_ATTRIBUTE changes[kSetRoom] = {};
    const CK_ULONG n = AddAttr(p.attr, changes, kSetRoom);
    const int open = OpenAndLogin(p);
    if (open != ST_OK)
        return open;
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    Search search;
    CK_OBJECT_CLASS objectClass = 0;
    if (ClassOfType(p.objectType, objectClass))
        search.AddULong(CKA_CLASS, objectClass);
    if (!p.id.Empty())
        search.Add(p.objectType == OT_DATA ? CKA_OBJECT_ID : CKA_ID, p.id.Data(), p.id.Size());
    if (!p.subject.Empty())
        search.Add(CKA_SUBJECT, p.subject.Data(), p.subject.Size());
    if (!p.label.empty())
        search.Add(CKA_LABEL, p.label.data(), p.label.size());
    const bool everything = search.Empty();
    // Every matching object, however many.
    const std::vector<CK_OBJECT_HANDLE> found = FindAll(p, search);
    if (found.empty()) {
        std::printf("Object not found\n");
        return ST_INVALID;
    }
    if (n == 0) {
        std::printf("No attributes to set\n");
        return ST_NO_TOKEN;
    }
    if (everything && !p.quiet && !p.yes) {
        std::printf("ALL %s WILL BE MODIFIED!\n", "TOKEN OBJECTS");
        if (!AskYesNo())
            throw ExitStatus{ST_ERROR};
    }
    int modified = 0;
    for (CK_OBJECT_HANDLE object : found) {
        if (p.objectType == OT_KEYS) {
            const CK_ULONG cls = ReadULong(p, object, CKA_CLASS);
            if (cls != CKO_PUBLIC_KEY && cls != CKO_PRIVATE_KEY && cls != CKO_SECRET_KEY)
                continue;
        }
        const CK_RV rv = p.functions->C_SetAttributeValue(p.finalizer->Session(), object, changes, n);
        if (rv != CKR_OK) {
            ReportCk("C_SetAttributeValue", rv);
            if (!p.force)
                return ST_CK_FAILED;
            continue;
        }
        ++modified;
    }
    if (!p.quiet)
        std::printf("%d objects modified.\n", modified);
    return ST_OK;
}

int DoDelete(SvcParams& p, bool confirm, const char* what) {
    // The kinds of a composite deletion share the session that the first call opened.
    // Deleting needs the user logged in; -q asks for no PIN.
    if (p.finalizer->Session() == 0) {
        const int open = OpenAndLogin(p, !p.quiet);
        if (open != ST_OK)
            return open;
    }
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    Search search;
    if (!p.id.Empty())
        search.Add(p.objectType == OT_DATA ? CKA_OBJECT_ID : CKA_ID, p.id.Data(), p.id.Size());
    if (!p.label.empty())
        search.Add(CKA_LABEL, p.label.data(), p.label.size());
    if (!p.subject.Empty())
        search.Add(CKA_SUBJECT, p.subject.Data(), p.subject.Size());
    if (!p.application.empty())
        search.Add(CKA_APPLICATION, p.application.data(), p.application.size());
    if (p.keyType != KT_NONE)
        search.AddULong(CKA_KEY_TYPE, ConvertKeyTypeForToken(p.keyType));
    const bool searchGiven = !search.Empty();
    if (!searchGiven && confirm && !Confirm(p, what ? what : "TOKEN OBJECTS"))
        return ST_ERROR;

    // The composite kinds delete kind by kind; every kind's status counts.
    auto composite = [&](std::initializer_list<EObjectType> kinds) {
        const EObjectType saved = p.objectType;
        int status = ST_OK;
        for (EObjectType kind : kinds) {
            p.objectType = kind;
            const int one = DoDelete(p, false, nullptr);
            if (status == ST_OK)
                status = one;
        }
        p.objectType = saved;
        return status;
    };
    CK_OBJECT_CLASS objectClass = 0;
    switch (p.objectType) {
    case OT_NONE:
    case OT_ALL:
        return composite({OT_PUBLIC_KEYS, OT_PRIVATE_KEYS, OT_SECRET_KEYS, OT_CERTIFICATES, OT_DATA});
    case OT_KEYS:
        return composite({OT_PUBLIC_KEYS, OT_PRIVATE_KEYS, OT_SECRET_KEYS});
    case OT_MECHANISMS:
    case OT_HW_FEATURES:
        // Without a class the search would reach objects of every class.
        if (searchGiven) {
            std::fprintf(stderr, "Error: mechanisms and hardware features cannot be deleted.\n");
            throw ExitStatus{ST_ERROR};
        }
        std::fprintf(stderr, "No search parameters specified.\n");
        return ST_ERROR;
    default:
        ClassOfType(p.objectType, objectClass);
        search.AddULong(CKA_CLASS, objectClass);
        break;
    }
    // The handles are collected and the search ended before anything is destroyed.
    const std::vector<CK_OBJECT_HANDLE> found = FindAll(p, search);
    CK_FUNCTION_LIST_PTR f = p.functions;
    const CK_SESSION_HANDLE session = p.finalizer->Session();
    unsigned long deleted = 0;
    vdk::TimeCounter watch;
    for (CK_OBJECT_HANDLE object : found) {
        CK_ULONG cls = 0;
        char label[512];
        CK_ATTRIBUTE read[2] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_LABEL, label, sizeof label}};
        CK_RV rv = f->C_GetAttributeValue(session, object, read, 2);
        if (rv != CKR_OK)
            return ReportCk("C_GetAttributeValue", rv);
        const int labelLength = read[1].ulValueLen <= sizeof label ? static_cast<int>(read[1].ulValueLen) : 0;
        if (!p.quiet) {
            std::printf("Erasing %s (handle: %lu, label: %.*s)...", zrck::GetClassStr(cls), object, labelLength, label);
            std::fflush(stdout);
        }
        watch.Reset();
        vdk::TimeCounter one;
        one.Start();
        rv = f->C_DestroyObject(session, object);
        one.Stop();
        watch = one;
        if (rv != CKR_OK) {
            ReportCk("C_DestroyObject", rv);
            if (!p.force)
                return ST_CK_FAILED;
            continue;
        }
        ++deleted;
        if (!p.quiet)
            std::printf("   OK\n");
    }
    if (!p.quiet && deleted > 0)
        std::printf("\t    %lu objects deleted in %s\n", deleted, watch.GetAsStr().c_str());
    if (p.statistics)
        DoStatistic(p);
    return ST_OK;
}

}  // namespace zrsvc
