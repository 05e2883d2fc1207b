// Pulls under load: writers create and destroy private token data objects, a lister lists them,
// and the card is pulled at a random command N times (out 0.05-0.6 s, back in for 0.3-1.5 s),
// through the simulator's control socket. Per run it prints the calls over 1 s, the longest
// call, CKR_DEVICE_ERROR answers to calls begun after pcscd showed the card back, insertions
// after which no writer got a logged-in session working again before the next pull, the
// longest and mean time from pcscd showing the card to the writers' first operation, the
// writers' operations and the token commands per operation. With --before, an older build of
// the module runs the same seeds.
//
//   pulls [--before OLD_MODULE] [--runs R] [--pulls N] [--writers W] [--seed S] [--limit SEC] [MODULE]
//
// Each run is a child process with a rig of its own, so it needs root and the rig's programs.
#include <PCSC/winscard.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ckbase/zr_pkcs11.h"
#include "rig.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kUserPin = "12345678";

struct Options {
    unsigned runs = 5;
    unsigned pulls = 30;
    unsigned writers = 1;
    unsigned seed = 1;
    unsigned limitSeconds = 240;
};

struct Figures {
    unsigned long callsOverSecond = 0;
    double maxCallMs = 0;
    char longestCall[24] = "-";
    unsigned long deviceErrorsAfterBack = 0;
    unsigned long unrecovered = 0;
    double maxRecoveryMs = 0;
    double sumRecoveryMs = 0;
    unsigned long recovered = 0;
    unsigned long operations = 0;
    unsigned long long commands = 0;  // token commands the simulator answered in the run
    double seconds = 0;
    bool limitHit = false;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// One run: the load, the pulls and what the calls answered.
class Run {
public:
    Run(CK_FUNCTION_LIST_PTR p11, CK_SLOT_ID slot, const tokensim::rig::Rig& rig, const Options& options, unsigned seed)
        : p11_(p11), slot_(slot), rig_(rig), options_(options), random_(seed)
    {
    }

    Figures Go()
    {
        const Clock::time_point start = Clock::now();
        rig_.Control().ResetCounters();
        std::vector<std::thread> threads;
        for (unsigned w = 0; w < options_.writers; ++w) threads.emplace_back([this, w] { Writer(w); });
        threads.emplace_back([this] { Lister(); });
        SCARDCONTEXT context = 0;
        SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
        const auto limit = start + std::chrono::seconds(options_.limitSeconds);
        for (unsigned pull = 0; pull < options_.pulls && !figures_.limitHit; ++pull) {
            Pause(Between(300, 1500));
            FinishInsertion();
            rig_.Control().Request("pull-after " + std::to_string(Between(0, 12)));
            while (Inserted()) {
                if (Clock::now() > limit) {
                    figures_.limitHit = true;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (figures_.limitHit) break;
            back_ = Clock::time_point::max().time_since_epoch().count();
            Pause(Between(50, 600));
            rig_.Control().Request("insert");
            WaitPcscdShowsCard(context, rig_.ReaderName(0));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                insertionRecovered_ = false;
                ++insertions_;
            }
            back_ = Clock::now().time_since_epoch().count();
        }
        if (!figures_.limitHit) {
            Pause(1500);
            FinishInsertion();
        }
        stop_ = true;
        if (context != 0) SCardReleaseContext(context);
        const std::string counters = rig_.Control().Request("counters");
        const size_t total = counters.find("total=");
        figures_.commands = total == std::string::npos ? 0 : std::stoull(counters.substr(total + 6));
        figures_.seconds = Ms(Clock::now() - start) / 1000;
        if (figures_.limitHit) {
            // Calls still hanging are left to the process's end.
            for (std::thread& t : threads) t.detach();
        } else {
            for (std::thread& t : threads) t.join();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        return figures_;
    }

private:
    unsigned Between(unsigned low, unsigned high)
    {
        return std::uniform_int_distribution<unsigned>(low, high)(random_);
    }

    static void Pause(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    bool Inserted() const { return rig_.Control().Request("status").find("inserted=1") != std::string::npos; }

    static void WaitPcscdShowsCard(SCARDCONTEXT context, const std::string& reader)
    {
        SCARD_READERSTATE look{};
        look.szReader = reader.c_str();
        look.dwCurrentState = SCARD_STATE_UNAWARE;
        for (int i = 0; i < 200; ++i) {
            if (SCardGetStatusChange(context, 100, &look, 1) == SCARD_S_SUCCESS &&
                (look.dwEventState & SCARD_STATE_PRESENT) != 0) {
                return;
            }
            look.dwCurrentState = look.dwEventState;
        }
    }

    // Counts an insertion that passed without a writer's operation.
    void FinishInsertion()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (insertions_ > counted_) {
            counted_ = insertions_;
            if (!insertionRecovered_) ++figures_.unrecovered;
        }
    }

    // Times a call; notes slow calls and device errors to calls begun with the card back.
    template <typename Call>
    CK_RV Timed(const char* name, Call&& call)
    {
        const Clock::time_point begun = Clock::now();
        const bool cardBack = back_.load() <= begun.time_since_epoch().count();
        const CK_RV rv = call();
        const double ms = Ms(Clock::now() - begun);
        std::lock_guard<std::mutex> lock(mutex_);
        if (ms > figures_.maxCallMs) {
            figures_.maxCallMs = ms;
            std::snprintf(figures_.longestCall, sizeof figures_.longestCall, "%s", name);
        }
        if (ms > 1000) ++figures_.callsOverSecond;
        if (rv == CKR_DEVICE_ERROR && cardBack) ++figures_.deviceErrorsAfterBack;
        return rv;
    }

    void Operated()
    {
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex_);
        ++figures_.operations;
        const long long back = back_.load();
        if (!insertionRecovered_ && insertions_ > 0 && back <= now.time_since_epoch().count()) {
            insertionRecovered_ = true;
            const double ms = Ms(now.time_since_epoch() - Clock::duration(back));
            figures_.maxRecoveryMs = std::max(figures_.maxRecoveryMs, ms);
            figures_.sumRecoveryMs += ms;
            ++figures_.recovered;
        }
    }

    // A session of the slot, logged in when asked; 0 when the token does not let one open.
    CK_SESSION_HANDLE Open(bool readWrite, bool login)
    {
        CK_SESSION_HANDLE session = 0;
        const CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
        if (Timed("C_OpenSession", [&] { return p11_->C_OpenSession(slot_, flags, nullptr, nullptr, &session); }) !=
            CKR_OK) {
            return 0;
        }
        if (login) {
            std::string pin = kUserPin;
            const CK_RV rv = Timed("C_Login", [&] {
                return p11_->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size());
            });
            if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
                Close(session);
                return 0;
            }
        }
        return session;
    }

    void Close(CK_SESSION_HANDLE& session)
    {
        if (session != 0) Timed("C_CloseSession", [&] { return p11_->C_CloseSession(session); });
        session = 0;
    }

    void Writer(unsigned index)
    {
        const std::string label = "pull writer " + std::to_string(index);
        CK_SESSION_HANDLE session = 0;
        while (!stop_) {
            if (session == 0 && (session = Open(true, true)) == 0) {
                Pause(5);
                continue;
            }
            CK_OBJECT_CLASS dataClass = CKO_DATA;
            CK_BBOOL yes = CK_TRUE;
            const char value[] = "a value written and dropped again";
            CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &dataClass, sizeof dataClass},
                                         {CKA_TOKEN, &yes, sizeof yes},
                                         {CKA_PRIVATE, &yes, sizeof yes},
                                         {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                         {CKA_VALUE, const_cast<char*>(value), sizeof value - 1}};
            CK_OBJECT_HANDLE object = 0;
            if (Timed("C_CreateObject", [&] { return p11_->C_CreateObject(session, attributes, 5, &object); }) !=
                CKR_OK) {
                Close(session);
                continue;
            }
            Operated();
            if (Timed("C_DestroyObject", [&] { return p11_->C_DestroyObject(session, object); }) != CKR_OK) {
                Close(session);
                continue;
            }
            Operated();
        }
        Close(session);
    }

    void Lister()
    {
        CK_SESSION_HANDLE session = 0;
        while (!stop_) {
            if (session == 0 && (session = Open(false, false)) == 0) {
                Pause(5);
                continue;
            }
            CK_OBJECT_CLASS dataClass = CKO_DATA;
            CK_ATTRIBUTE search[] = {{CKA_CLASS, &dataClass, sizeof dataClass}};
            CK_OBJECT_HANDLE found[32];
            CK_ULONG count = 0;
            bool ok = Timed("C_FindObjectsInit", [&] { return p11_->C_FindObjectsInit(session, search, 1); }) == CKR_OK;
            ok =
                ok && Timed("C_FindObjects", [&] { return p11_->C_FindObjects(session, found, 32, &count); }) == CKR_OK;
            ok = ok && Timed("C_FindObjectsFinal", [&] { return p11_->C_FindObjectsFinal(session); }) == CKR_OK;
            if (!ok) Close(session);
        }
        Close(session);
    }

    CK_FUNCTION_LIST_PTR p11_;
    CK_SLOT_ID slot_;
    const tokensim::rig::Rig& rig_;
    const Options& options_;
    std::mt19937 random_;
    std::atomic<bool> stop_{false};
    // When pcscd showed the card after the latest insertion (steady clock ticks); the largest
    // value while the card is out.
    std::atomic<long long> back_{0};
    std::mutex mutex_;  // everything below
    Figures figures_;
    unsigned insertions_ = 0;
    unsigned counted_ = 0;
    bool insertionRecovered_ = true;
};

// One run in a child with its own rig; its figures come back through a pipe.
bool Measure(const std::string& module, const Options& options, unsigned seed, Figures& out)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        try {
            tokensim::rig::RigOptions rigOptions;
            rigOptions.simulators = {{"--so-pin", "87654321", "--user-pin", kUserPin}};
            auto rig = std::make_unique<tokensim::rig::Rig>(rigOptions);
            void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (library == nullptr) throw std::runtime_error(dlerror());
            auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
            CK_FUNCTION_LIST_PTR p11 = nullptr;
            if (getList == nullptr || getList(&p11) != CKR_OK) throw std::runtime_error("no function list");
            CK_C_INITIALIZE_ARGS args{};
            args.flags = CKF_OS_LOCKING_OK;
            if (p11->C_Initialize(&args) != CKR_OK) throw std::runtime_error("C_Initialize failed");
            CK_SLOT_ID slot = 0;
            CK_ULONG count = 1;
            if (p11->C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count == 0) {
                throw std::runtime_error("no token");
            }
            const Figures f = Run(p11, slot, *rig, options, seed).Go();
            dprintf(fds[1], "%lu %f %lu %lu %f %f %lu %lu %llu %f %d %s\n", f.callsOverSecond, f.maxCallMs,
                    f.deviceErrorsAfterBack, f.unrecovered, f.maxRecoveryMs, f.sumRecoveryMs, f.recovered, f.operations,
                    f.commands, f.seconds, f.limitHit ? 1 : 0, f.longestCall);
            close(fds[1]);
            if (f.limitHit) {
                rig.reset();  // ends calls still waiting for the card
            } else {
                p11->C_Finalize(nullptr);
            }
            _exit(0);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pulls: %s: %s\n", module.c_str(), e.what());
            _exit(1);
        }
    }
    close(fds[1]);
    FILE* from = fdopen(fds[0], "r");
    int limit = 0;
    const int fields =
        std::fscanf(from, "%lu %lf %lu %lu %lf %lf %lu %lu %llu %lf %d %23s", &out.callsOverSecond, &out.maxCallMs,
                    &out.deviceErrorsAfterBack, &out.unrecovered, &out.maxRecoveryMs, &out.sumRecoveryMs,
                    &out.recovered, &out.operations, &out.commands, &out.seconds, &limit, out.longestCall);
    out.limitHit = limit != 0;
    std::fclose(from);
    int status = 0;
    waitpid(child, &status, 0);
    return fields == 12;
}

void PrintRow(const char* name, unsigned run, const Figures& f)
{
    std::printf("| %s | %u | %lu | %.0f (%s) | %lu | %lu | %.0f | %.0f | %lu | "
                "%.1f | %.1f%s |\n",
                name, run, f.callsOverSecond, f.maxCallMs, f.longestCall, f.deviceErrorsAfterBack, f.unrecovered,
                f.maxRecoveryMs, f.recovered ? f.sumRecoveryMs / f.recovered : 0.0, f.operations,
                f.operations ? static_cast<double>(f.commands) / f.operations : 0.0, f.seconds,
                f.limitHit ? " (limit)" : "");
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string before;
    std::string module = ZR_MODULE_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--before" && valued) {
            before = argv[++i];
        } else if (arg == "--runs" && valued) {
            options.runs = static_cast<unsigned>(std::stoul(argv[++i]));
        } else if (arg == "--pulls" && valued) {
            options.pulls = static_cast<unsigned>(std::stoul(argv[++i]));
        } else if (arg == "--writers" && valued) {
            options.writers = std::max(1u, static_cast<unsigned>(std::stoul(argv[++i])));
        } else if (arg == "--seed" && valued) {
            options.seed = static_cast<unsigned>(std::stoul(argv[++i]));
        } else if (arg == "--limit" && valued) {
            options.limitSeconds = static_cast<unsigned>(std::stoul(argv[++i]));
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr,
                         "usage: %s [--before OLD_MODULE] [--runs R] [--pulls N] "
                         "[--writers W] [--seed S] "
                         "[--limit SEC] [MODULE]\n",
                         argv[0]);
            return 2;
        } else {
            module = arg;
        }
    }
    const std::string why = tokensim::rig::Rig::WhyUnavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "pulls: %s\n", why.c_str());
        return 1;
    }
    std::printf("%u runs of %u pulls, %u writer(s) and a lister, seeds from %u\n\n", options.runs, options.pulls,
                options.writers, options.seed);
    std::printf("| module | run | calls > 1 s | longest call ms | "
                "CKR_DEVICE_ERROR with the card back | insertions "
                "not recovered | longest recovery ms | mean recovery ms | "
                "operations | token commands per operation | "
                "seconds |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (unsigned run = 0; run < options.runs; ++run) {
        Figures f;
        if (!before.empty()) {
            if (!Measure(before, options, options.seed + run, f)) return 1;
            PrintRow("before", run, f);
        }
        if (!Measure(module, options, options.seed + run, f)) return 1;
        PrintRow("this", run, f);
        std::fflush(stdout);
    }
    return 0;
}
