// Searches and the token data revision: an unchanged token costs a search the revision read
// alone, this process's own change does not make it list the indexes again, and a change made
// by another process (pkcs11-tool on the same token) is seen by this process's next search.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cryptoki_rig_fixture.h"
#include "frozen_cache_clock.h"

using namespace librarytest;

namespace {

std::string ToolPrefix() {
#ifdef ZR_SANITIZER_PRELOAD
    return "LD_PRELOAD='" ZR_SANITIZER_PRELOAD "' ASAN_OPTIONS=detect_leaks=0 ";
#else
    return "";
#endif
}

// pkcs11-tool with the token library, logged in as the user; true when it succeeded.
bool OtherProcess(const std::string& arguments, std::string& output) {
    const std::string command = ToolPrefix() + "pkcs11-tool --module '" ZR_REAL_MODULE "' --login --pin " +
                                CryptokiRigTest::kUserPin + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    return pclose(pipe) == 0;
}

class RevisionRig : public CryptokiRigTest {
protected:
    // Searches cost what they cost whatever the machine's speed; another process's change is
    // seen while the revision read before it is still cached.
    FrozenCacheClock clock_;

    // Commands the search sent.
    uint64_t SearchCost(CK_OBJECT_CLASS objectClass, const std::string& label, std::vector<CK_OBJECT_HANDLE>& found) {
        const uint64_t before = TotalCommands();
        EXPECT_EQ(Find(session, objectClass, label, found), CKR_OK);
        return TotalCommands() - before;
    }
};

TEST_F(RevisionRig, UnchangedTokenAndOwnChangesCostOnlyTheRevisionRead) {
    std::vector<CK_OBJECT_HANDLE> found;
    SearchCost(CKO_DATA, "", found);  // the first search lists both indexes
    // The first change turns revision 0 into a random value, later ones count up; neither
    // makes the next search list the indexes again.
    CK_OBJECT_HANDLE created = 0;
    ASSERT_EQ(CreateData(session, "first", "v", true, &created), CKR_OK);
    const uint64_t afterFirst = SearchCost(CKO_DATA, "", found);
    EXPECT_EQ(found.size(), 1u);
    const uint64_t revisionRead = SearchCost(CKO_DATA, "", found);
    EXPECT_GT(revisionRead, 0u) << "every search asks the token for its revision";
    EXPECT_LE(revisionRead, 3u) << "file 0 alone: its size and contents";
    EXPECT_EQ(afterFirst, revisionRead) << "no index listing after our own first change";

    ASSERT_EQ(CreateData(session, "second", "v", false, &created), CKR_OK);
    EXPECT_EQ(SearchCost(CKO_DATA, "", found), revisionRead) << "no index listing after our own change";
    EXPECT_EQ(found.size(), 2u);
    ASSERT_EQ(C_DestroyObject(session, created), CKR_OK);
    EXPECT_EQ(SearchCost(CKO_DATA, "", found), revisionRead) << "no index listing after our own deletion";
    EXPECT_EQ(found.size(), 1u);
}

TEST_F(RevisionRig, AnotherProcessesChangesAreSeenByTheNextSearch) {
    ZR_REQUIRE_TOOLS("pkcs11-tool");
    std::vector<CK_OBJECT_HANDLE> found;
    CK_OBJECT_HANDLE mine = 0;
    ASSERT_EQ(CreateData(session, "mine", "v", false, &mine), CKR_OK);
    ASSERT_EQ(Find(session, CKO_DATA, "", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u);

    char path[] = "/tmp/revision-rig-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "theirs", 6), 6);
    close(fd);
    std::string output;
    const bool written =
        OtherProcess(std::string("--write-object ") + path + " --type data --label theirs --private", output);
    unlink(path);
    ASSERT_TRUE(written) << output;
    // The revision read before is still cached: the search must still see the new object.
    ASSERT_EQ(Find(session, CKO_DATA, "theirs", found), CKR_OK);
    ASSERT_EQ(found.size(), 1u) << "created in another process";
    char value[16];
    CK_ATTRIBUTE read{CKA_VALUE, value, sizeof value};
    ASSERT_EQ(C_GetAttributeValue(session, found[0], &read, 1), CKR_OK);
    EXPECT_EQ(std::string(value, read.ulValueLen), "theirs");

    output.clear();
    ASSERT_TRUE(OtherProcess("--delete-object --type data --label mine", output)) << output;
    ASSERT_EQ(Find(session, CKO_DATA, "", found), CKR_OK);
    EXPECT_EQ(found.size(), 1u) << "deleted in another process";
    EXPECT_EQ(C_GetAttributeValue(session, mine, &read, 1), CKR_OBJECT_HANDLE_INVALID);
}

}  // namespace
