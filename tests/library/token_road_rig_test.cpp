// The commands the library sends on an application's usual path, counted exactly: every one
// costs 1 to 100 ms on a real token, so a new one is a regression.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

#include "frozen_cache_clock.h"
#include "rig_gtest.h"
#include "token_road.h"

namespace {

constexpr const char* kUserPin = "12345678";

TEST(TokenRoadTest, EveryCommandOfTheMainRoadIsCounted)
{
    ZR_REQUIRE_RIG();
    librarytest::FrozenCacheClock clock;  // in the other process too
    tokensim::rig::RigOptions options;
    options.simulators = {{"--so-pin", "87654321", "--user-pin", kUserPin}};
    tokensim::rig::Rig rig(options);
    void* module = dlopen(ZR_REAL_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(module, nullptr) << dlerror();
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    ASSERT_EQ(getList(&p11), CKR_OK);

    constexpr unsigned n = 10;
    const std::string writer = std::string(ZR_ROAD_WRITER) + " " ZR_REAL_MODULE " " + kUserPin + " other";
    const road::Figures f = road::Measure(p11, rig.Control(), n, kUserPin, writer);
    EXPECT_EQ(f.found, n + 1);

    struct Row {
        const char* step;
        const road::Commands& commands;
        uint64_t total;
    };
    const Row rows[] = {
        // The token information block: six attributes, each read once.
        {"C_Initialize + C_GetSlotList", f.initAndSlotList, 6},
        // OpenSession, Login; the search: revision, both (missing) index files' sizes.
        {"C_Login + first search", f.loginAndFirstSearch, 5},
        {"search, no revision file", f.searchNoRevision, 1},
        // Index read once (2), data and attribute files created and written (4), the record
        // and the header that shows it (2), the revision read and written (2).
        {"C_CreateObject", f.create, 10},
        {"search, nothing changed", f.searchUnchanged, 1},
        // Revision (1), the public index (2), the missing private index (1), every attribute
        // file (2 each): the data files are read only when a value is asked for.
        {"first search of a new process", f.firstSearch, 2 * n + 4},
        // The revision read (is the object still the one its handle names?), then the file (2).
        {"one file read", f.fileRead, 3},
        {"search after another process's change", f.searchAfterOther, 2 * (n + 1) + 4},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.commands.total, row.total) << row.step << ": " << row.commands.Detail();
    }
    dlclose(module);
}

}  // namespace
