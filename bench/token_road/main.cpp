// The token road: token commands per Cryptoki call, counted by the simulator, for N = 10 and
// 50 token data objects. With --before, an older build of the module is measured beside it.
//
//   token_road [--before OLD_MODULE] [MODULE]
//
// Each measurement runs in a child process with a rig of its own (fresh token), so it needs
// root and the rig's programs.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "rig.h"
#include "token_road.h"

namespace {

constexpr const char* kUserPin = "12345678";

struct Row {
    const char* name;
    road::Commands road::Figures::*step;
    const char* detail;  // a command name worth showing beside the total, or null
};

const Row kRows[] = {
    {"one file read (C_GetAttributeValue of a value)", &road::Figures::fileRead, "GetFileSize"},
    {"C_FindObjects* with nothing changed", &road::Figures::searchUnchanged, "ReadFile"},
    {"C_Initialize + C_GetSlotList", &road::Figures::initAndSlotList, "GetAttr"},
    {"C_Login then the first search", &road::Figures::loginAndFirstSearch, "OpenSession"},
    {"C_CreateObject of the Nth data object", &road::Figures::create, "ReadFile"},
    {"first search in a new process", &road::Figures::firstSearch, "GetFileSize"},
    {"search after another process added an object", &road::Figures::searchAfterOther, "GetFileSize"},
    {"search on a token with no revision file", &road::Figures::searchNoRevision, "ReadFile"},
};

// Runs the road in a child with its own rig; one line per row: total and the detail count.
bool Measure(const std::string& module, unsigned n, std::vector<std::pair<uint64_t, uint64_t>>& out)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        FILE* to = fdopen(fds[1], "w");
        try {
            tokensim::rig::RigOptions options;
            options.simulators = {{"--so-pin", "87654321", "--user-pin", kUserPin}};
            tokensim::rig::Rig rig(options);
            void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (library == nullptr) throw std::runtime_error(dlerror());
            auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
            CK_FUNCTION_LIST_PTR p11 = nullptr;
            if (getList == nullptr || getList(&p11) != CKR_OK) throw std::runtime_error("no function list");
            const std::string writer = std::string(ZR_ROAD_WRITER) + " '" + module + "' " + kUserPin + " other";
            const road::Figures figures = road::Measure(p11, rig.Control(), n, kUserPin, writer);
            for (const Row& row : kRows) {
                const road::Commands& c = figures.*row.step;
                std::fprintf(to, "%llu %llu\n", static_cast<unsigned long long>(c.total),
                             static_cast<unsigned long long>(c.Of(row.detail)));
            }
            std::fclose(to);
            _exit(0);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "token_road: %s: %s\n", module.c_str(), e.what());
            _exit(1);
        }
    }
    close(fds[1]);
    FILE* from = fdopen(fds[0], "r");
    unsigned long long total = 0, detail = 0;
    while (std::fscanf(from, "%llu %llu", &total, &detail) == 2) out.emplace_back(total, detail);
    std::fclose(from);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && out.size() == std::size(kRows);
}

std::string Cell(const std::vector<std::pair<uint64_t, uint64_t>>& column, size_t row)
{
    if (column.empty()) return "-";
    const auto& [total, detail] = column[row];
    return std::to_string(total) + " (" + kRows[row].detail + " " + std::to_string(detail) + ")";
}

}  // namespace

int main(int argc, char** argv)
{
    std::string before;
    std::string module = ZR_MODULE_PATH;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--before") == 0 && i + 1 < argc) {
            before = argv[++i];
        } else {
            module = argv[i];
        }
    }
    const std::string why = tokensim::rig::Rig::WhyUnavailable();
    if (!why.empty()) {
        std::fprintf(stderr, "token_road: %s\n", why.c_str());
        return 1;
    }
    std::printf("Token commands per call (simulator counters; firmware 5.15)\n");
    for (unsigned n : {10u, 50u}) {
        std::vector<std::pair<uint64_t, uint64_t>> old, now;
        if (!before.empty() && !Measure(before, n, old)) return 1;
        if (!Measure(module, n, now)) return 1;
        std::printf("\nN = %u token data objects\n| road | before | after |\n|---|---|---|\n", n);
        for (size_t row = 0; row < std::size(kRows); ++row) {
            std::printf("| %s | %s | %s |\n", kRows[row].name, Cell(old, row).c_str(), Cell(now, row).c_str());
        }
    }
    return 0;
}
