// "info", the statistics report, "random" and "next".
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "converters.h"
#include "cryptoki/names/ck_names.h"
#include "session.h"
#include <cstring>
#include <algorithm>

namespace zrsvc {

int OpenAndTryLogin(SvcParams& p, bool interactive, bool& loggedIn) {
    loggedIn = false;
    try {
        const int status = p.finalizer->OpenSessionAndLoginInt(p.slot, p.password, interactive);
        if (status != ST_OK)
            return status;
        loggedIn = true;
    } catch (const IntError& e) {
        if (e.value != static_cast<int>(CKR_PIN_INCORRECT))
            throw;
    } catch (const CkError& e) {
        if (!IsPinRefusal(e.rv))
            throw;
    }
    return p.finalizer->Session() != 0 ? ST_OK : ST_NO_TOKEN;
}

int OpenAndLogin(SvcParams& p, bool interactive) {
    int status;
    // The refusal or the missing PIN was reported where it was found.
    try {
        status = p.finalizer->OpenSessionAndLoginInt(p.slot, p.password, interactive);
    } catch (const IntError& e) {
        if (e.value != static_cast<int>(CKR_PIN_INCORRECT))
            throw;
        throw ExitStatus{ST_ERROR};
    } catch (const CkError& e) {
        if (!IsPinRefusal(e.rv))
            throw;
        throw ExitStatus{ST_CK_FAILED};
    }
    if (status == ST_OK)
        p.finalizer->SeedRandom(p.seed);
    return status;
}

bool RepeatAfterPause(SvcParams& p, int& status) {
    if (!p.repeat)
        return false;
    SleepLoop();
    if (IsCtrlBreakDetected()) {
        status = ST_BREAK;
        return false;
    }
    return true;
}

bool EndCycle(SvcParams& p, int& status) {
    if (p.statistics && DoStatistic(p) == ST_BREAK) {
        status = ST_BREAK;
        return false;
    }
    p.finalizer->CloseSession();
    if (IsCtrlBreakDetected()) {
        status = ST_BREAK;
        return false;
    }
    return RepeatAfterPause(p, status);
}

int OpenForRandom(SvcParams& p, bool interactive) {
    if (p.password.empty() && !p.loginRequired)
        return p.finalizer->OpenSessionInt(p.slot);
    bool logged = false;
    return OpenAndTryLogin(p, interactive, logged);
}

int FinishTimed(SvcParams& p, const vdk::TimeCounter& watch) {
    if (!p.quiet)
        std::printf("Done in %s.\n", watch.GetAsStr().c_str());
    if (p.statistics)
        DoStatistic(p);
    return ST_OK;
}

SearchResult DoStatisticLine(SvcParams& p, CK_OBJECT_CLASS objectClass, const char* name, ESearchZone zone) {
    if (IsCtrlBreakDetected())
        return {ST_BREAK, 0};
    CK_FUNCTION_LIST_PTR f = p.functions;
    const CK_SESSION_HANDLE session = p.finalizer->Session();
    CK_BBOOL isPrivate = zone == SZ_PRIVATE ? CK_TRUE : CK_FALSE;
    CK_ATTRIBUTE search[2] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_PRIVATE, &isPrivate, 1}};
    CK_RV rv = f->C_FindObjectsInit(session, search, zone == SZ_ANY ? 1 : 2);
    if (rv == CKR_DEVICE_REMOVED)
        return {ST_OK, 0};
    if (rv == CKR_ATTRIBUTE_VALUE_INVALID) {
        std::printf("\t    Cannot locate %s\n", name);
        return {ST_OK, 0};
    }
    if (rv != CKR_OK) {
        std::printf("\t\t    (%s(0x%lX) while locating %s)\n", zrck::GetCkErrorStr(rv), rv, name);
        return {ST_OK, 0};
    }
    FindGuard guard(f, session);
    CK_ULONG count = 0;
    CK_ULONG bytes = 0;
    for (;;) {
        CK_OBJECT_HANDLE handles[100] = {};
        CK_ULONG found = 0;
        rv = f->C_FindObjects(session, handles, 100, &found);
        if (rv == CKR_DEVICE_REMOVED)
            return {ST_OK, 0};
        if (rv != CKR_OK)
            return {ReportCk("C_FindObjects", rv), count};
        if (found == 0)
            break;
        for (CK_ULONG i = 0; i < found && i < 100; ++i) {
            CK_ULONG size = 0;
            rv = f->C_GetObjectSize(session, handles[i], &size);
            if (rv == CKR_OK)
                bytes += size;
            else if (rv == CKR_DEVICE_REMOVED)
                return {ST_OK, 0};
        }
        count += found;
    }
    rv = guard.Final();
    if (rv == CKR_DEVICE_REMOVED)
        return {ST_OK, 0};
    if (rv != CKR_OK)
        return {ReportCk("C_FindObjectsFinal", rv), count};
    if (count != 0) {
        if (bytes != 0)
            std::printf("\t    Found %lu %s occupied %lu bytes of token memory.\n", count, name, bytes);
        else
            std::printf("\t    Found %lu %s.\n", count, name);
    }
    return {ST_OK, bytes};  // the caller adds the bytes
}

int DoStatistic(SvcParams& p) {
    const bool logged = p.finalizer->IsLoggedIn();
    std::printf(logged ? "\n\tToken statistics:\n" : "\n\tPublic area statistics:\n");
    if (IsCtrlBreakDetected())
        return ST_BREAK;
    const struct {
        CK_OBJECT_CLASS objectClass;
        const char* name;
        ESearchZone zone;
        bool needsLogin;
    } lines[] = {{CKO_HW_FEATURE, "hardware features", SZ_ANY, false},
                 {CKO_MECHANISM, "crypto mechanisms", SZ_ANY, false},
                 {CKO_DOMAIN_PARAMETERS, "public domain parameters", SZ_PUBLIC, false},
                 {CKO_DOMAIN_PARAMETERS, "private domain parameters", SZ_PRIVATE, true},
                 {CKO_CERTIFICATE, "public certificates", SZ_PUBLIC, false},
                 {CKO_CERTIFICATE, "private certificates", SZ_PRIVATE, true},
                 {CKO_PRIVATE_KEY, "private keys", SZ_PRIVATE, true},
                 {CKO_PRIVATE_KEY, "private keys (public zone)", SZ_PUBLIC, false},
                 {CKO_PUBLIC_KEY, "public keys", SZ_PUBLIC, false},
                 {CKO_PUBLIC_KEY, "public keys (private zone)", SZ_PRIVATE, true},
                 {CKO_SECRET_KEY, "secret keys", SZ_PRIVATE, true},
                 {CKO_SECRET_KEY, "secret keys (public zone)", SZ_PUBLIC, false},
                 {CKO_DATA, "data objects (public zone)", SZ_PUBLIC, false},
                 {CKO_DATA, "data objects (private zone)", SZ_PRIVATE, true}};
    unsigned long occupied = 0;
    int status = ST_OK;
    for (const auto& line : lines) {
        if (line.needsLogin && !logged)
            continue;
        const SearchResult result = DoStatisticLine(p, line.objectClass, line.name, line.zone);
        if (result.status == ST_BREAK)
            return ST_BREAK;
        if (result.status != ST_OK)
            status = result.status;
        else
            occupied += result.count;
    }
    if (occupied > 0)
        std::printf("\t Objects occupied %lu bytes of token memory.\n", occupied);
    return status;
}

int DoInfo(SvcParams& p) {
    CK_FUNCTION_LIST_PTR f = p.functions;
    PrintLibInfo(f);
    bool sessionOpened = false;
    int status = ST_OK;
    for (bool first = true;; first = false) {
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        CK_ULONG n = 0;
        CK_RV rv = f->C_GetSlotList(CK_FALSE, nullptr, &n);
        if (rv != CKR_OK)
            return ReportCk("C_GetSlotList(0)", rv);
        std::vector<CK_SLOT_ID> slots(n + 1, 0);
        std::string tail = ".";
        if (n > 0) {
            rv = f->C_GetSlotList(CK_FALSE, slots.data(), &n);
            if (rv != CKR_OK)
                return ReportCk(("C_GetSlotList(" + std::to_string(n) + ")").c_str(), rv);
            if (p.testPresence) {
                CK_ULONG m = 0;
                rv = f->C_GetSlotList(CK_TRUE, nullptr, &m);
                if (rv != CKR_OK)
                    return ReportCk("C_GetSlotList(TRUE)", rv);
                tail = ". " + std::to_string(m) + " with tokens.";
            }
        }
        bool goOn = n > 0;
        if (n == 0) {
            std::printf("There are no slots available.");
        } else {
            std::printf(n == 1 ? "There is %lu slot: " : "There are %lu slots: ", n);
            for (CK_ULONG i = 0; i < n; ++i) {
                if (n >= 26 && i >= 10 && i < n - 9) {
                    if (i == 10)
                        std::printf("... ");
                    continue;
                }
                std::printf(i + 1 < n ? "%lu, " : "%lu", slots[i]);
            }
            std::printf("%s\n", tail.c_str());
        }
        if (goOn) {
            if (p.slot == kSlotUnset)
                p.slot = slots[0];
            if (p.testPresence) {
                for (CK_ULONG i = 0; i < n; ++i) {
                    bool initialized = false;
                    PrintSlotInfo(f, slots[i], initialized, false);
                }
                std::printf("\n");
            }
            bool initialized = false;
            const int slotStatus = PrintSlotInfo(f, p.slot, initialized, true);
            if (slotStatus != ST_OK) {
                if (sessionOpened && p.finalizer->Session() != 0)
                    TestSessionInfo(f, *p.finalizer);
            } else {
                if (first) {
                    const int open = p.finalizer->OpenSessionInt(p.slot);
                    if (open != ST_OK) {
                        std::printf("\t ---Session cannot be opened.\n");
                        // The run could not reach the token: that is no success.
                        status = open;
                        goto next;
                    }
                    sessionOpened = true;
                    std::printf("\t ---Session %lu opened.\n", p.finalizer->Session());
                    if (!p.password.empty() && p.finalizer->TryToLogin(p.password))
                        std::printf("\t ---Session %lu logged.\n", p.finalizer->Session());
                    p.finalizer->SeedRandom(p.seed);
                    TestSessionRandom(f, *p.finalizer);
                } else if (p.finalizer->Session() != 0) {
                    TestSessionInfo(f, *p.finalizer);
                }
                if (IsCtrlBreakDetected())
                    return ST_BREAK;
                if (p.finalizer->Session() != 0) {
                    const int statisticStatus = DoStatistic(p);
                    if (statisticStatus == ST_BREAK)
                        return ST_BREAK;
                    if (statisticStatus != ST_OK)
                        status = statisticStatus;
                }
            }
        }
    next:
        if (!RepeatAfterPause(p, status))
            break;
        status = ST_OK;
    }
    if (status == ST_BREAK)
        return status;
    p.finalizer->CloseSession();
    return status;
}

int DoGenerateRandom(SvcParams& p) {
    ReadTokenParams(p);
    const uint64_t length = p.size != 0 ? p.size : 32;
    if (length > 0xFFFFFFFFu)
        throw tru::Exception(tru::ERROR_MEM);
    tru::BufferDynamic random(static_cast<uint32_t>(length));
    vdk::TimeCounter watch;
    int status = ST_OK;
    for (;;) {
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        const int open = OpenForRandom(p, !p.quiet);
        if (open != ST_OK)
            return open;
        p.finalizer->SeedRandom(p.seed);
        std::memset(random.Data(), 0, random.Size());
        watch.Start();
        const CK_RV rv = p.functions->C_GenerateRandom(p.finalizer->Session(), random.Data(), random.Size());
        watch.Stop();
        if (rv != CKR_OK)
            return ReportCk("C_GenerateRandom", rv);
        if (p.file.empty()) {
            std::printf("%s\n", random.ToHex().c_str());
        } else {
            SaveSecretFile(p.file, random);
        }
        p.finalizer->CloseSession();
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        if (!RepeatAfterPause(p, status))
            break;
    }
    if (status != ST_OK)
        return status;
    if (!p.quiet)
        std::printf("Generated in %s.\n", watch.GetAsStr().c_str());
    return ST_OK;
}

int DoMonotonicNext(SvcParams& p) {
    ReadTokenParams(p);
    CK_FUNCTION_LIST_PTR f = p.functions;
    vdk::TimeCounter watch;
    int status = ST_OK;
    for (;;) {
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        const int open = OpenForRandom(p, false);
        if (open != ST_OK)
            return open;
        const CK_SESSION_HANDLE session = p.finalizer->Session();
        CK_OBJECT_CLASS hwClass = CKO_HW_FEATURE;
        CK_HW_FEATURE_TYPE feature = CKH_MONOTONIC_COUNTER;
        CK_ATTRIBUTE search[2] = {{CKA_CLASS, &hwClass, sizeof hwClass},
                                  {CKA_HW_FEATURE_TYPE, &feature, sizeof feature}};
        CK_RV rv = f->C_FindObjectsInit(session, search, 2);
        if (rv != CKR_OK)
            return ReportCk("C_FindObjectsInit", rv);
        CK_OBJECT_HANDLE counter = 0;
        CK_ULONG found = 0;
        {
            FindGuard guard(f, session);
            rv = f->C_FindObjects(session, &counter, 1, &found);
            if (rv != CKR_OK)
                return ReportCk("C_FindObjects", rv);
            rv = guard.Final();
            if (rv != CKR_OK)
                return ReportCk("C_FindObjectsFinal", rv);
        }
        if (found == 0) {
            std::fprintf(stderr, "No monotonic counter found.\n");
            return ST_ERROR;
        }
        for (int i = 0; i < p.count; ++i) {
            uint8_t value[64] = {};
            CK_ATTRIBUTE read{CKA_VALUE, value, sizeof value};
            watch.Start();
            rv = f->C_GetAttributeValue(session, counter, &read, 1);
            watch.Stop();
            if (rv != CKR_OK)
                return ReportCk("C_GetAtributeValue", rv);
            const CK_ULONG length = std::min<CK_ULONG>(read.ulValueLen, sizeof value);
            if (p.hex) {
                std::printf("%s\n", tru::Buffer(value, static_cast<uint32_t>(length)).ToHex().c_str());
                continue;
            }
            // Leading zero bytes carry no value: only significant bytes count towards 8.
            CK_ULONG first = 0;
            while (first < length && value[first] == 0)
                ++first;
            uint64_t number = 0;
            for (CK_ULONG b = first; b < length && b < first + 9; ++b)
                number = number * 256 + value[b];
            if (length - first > 8)
                std::printf("%llu OVERFLOW\n", static_cast<unsigned long long>(number));
            else
                std::printf("%llu\n", static_cast<unsigned long long>(number));
        }
        p.finalizer->CloseSession();
        if (IsCtrlBreakDetected())
            return ST_BREAK;
        if (!RepeatAfterPause(p, status))
            break;
    }
    if (status != ST_OK)
        return status;
    // A counter that was never read has no time to show.
    if (!p.quiet && watch.HasRun())
        std::printf("Done in %s.\n", watch.GetAsStr().c_str());
    return ST_OK;
}

}  // namespace zrsvc
