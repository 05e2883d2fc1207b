#include "support/file.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>

#include "support/vdk_exception.h"
#include "tru2/buffer.h"

namespace {

using vdk::File;

TEST(PathTest, SplittingAndJoining)
{
    struct Case { const char* dir; const char* name; const char* merged; } merges[] = {
        {"", "b", "b"}, {"a", "", "a"}, {"a/", "", "a/"}, {"a", "/b", "a/b"}, {"a/", "b", "a/b"},
        {"a/", "/b", "a/b"}, {"a/", "//b", "a//b"}, {"a", "b", "a/b"},
    };
    for (const auto& c : merges)
        EXPECT_EQ(File::MergeFilePath(c.dir, c.name), c.merged) << c.dir << " + " << c.name;

    struct Split { const char* full; const char* path; const char* filePath; const char* name; } splits[] = {
        {"/usr/lib/x.so", "/usr/lib", "/usr/lib", "x.so"},
        {"x.so", ".", "x.so", "x.so"},
        {"/x", "", "", "x"},
        {"dir/", "dir", "dir", ""},
        {"", ".", "", ""},
    };
    for (const auto& c : splits) {
        EXPECT_EQ(File::ExtractPathFromFullname(c.full), c.path) << c.full;
        EXPECT_EQ(File::ExtractFilePath(c.full), c.filePath) << c.full;
        EXPECT_EQ(File::ExtractFileName(c.full), c.name) << c.full;
    }

    EXPECT_TRUE(File::IsHiddenFile(".profile"));
    EXPECT_FALSE(File::IsHiddenFile("a.b"));
    EXPECT_TRUE(File::IsPredefinedDirectoryName("."));
    EXPECT_TRUE(File::IsPredefinedDirectoryName(".."));
    EXPECT_FALSE(File::IsPredefinedDirectoryName("..."));
    EXPECT_EQ(File::GetFullFilePath("/nonexistent/zr/x"), "/nonexistent/zr/x");
    EXPECT_EQ(File::GetFullFilePath("/usr/./lib/../lib"), File::GetFullFilePath("/usr/lib"));
}

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/zr-file-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    std::string Path(const std::string& rel) const { return root_ + "/" + rel; }
    void Touch(const std::string& rel, const std::string& content = "") const
    {
        std::ofstream(Path(rel)) << content;
    }
    void MakeDir(const std::string& rel) const { ASSERT_EQ(mkdir(Path(rel).c_str(), 0755), 0) << rel; }

    std::string root_;
};

TEST_F(FileSystemTest, ExistenceTestsTellFilesFromDirectoriesAndSockets)
{
    Touch("f");
    MakeDir("d");
    // A socket's type bits share the directory bit: it must not count as a directory.
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const std::string sock = Path("s");
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::copy(sock.begin(), sock.end(), addr.sun_path);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    struct Case { const char* rel; bool file; bool dir; } cases[] = {
        {"f", true, false}, {"d", false, true}, {"s", true, false}, {"missing", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(File::IsFileExist(Path(c.rel).c_str()), c.file) << c.rel;
        EXPECT_EQ(File::IsDirectoryExist(Path(c.rel).c_str()), c.dir) << c.rel;
    }
    close(s);
}

TEST_F(FileSystemTest, ForceDirectoriesCreatesParentsWith0755AndEndsOnFailure)
{
    const mode_t oldMask = umask(0);
    EXPECT_TRUE(File::ForceDirectories(Path("a/b/c").c_str()));
    umask(oldMask);
    for (const char* rel : {"a", "a/b", "a/b/c"}) {
        struct stat st {};
        ASSERT_EQ(stat(Path(rel).c_str(), &st), 0) << rel;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << rel;
        EXPECT_EQ(st.st_mode & 07777, 0755u) << rel;
    }
    EXPECT_TRUE(File::ForceDirectories(Path("a/b/c").c_str())) << "already there";
    EXPECT_TRUE(File::ForceDirectories(Path("x/y/").c_str())) << "trailing slash";
    EXPECT_TRUE(File::IsDirectoryExist(Path("x/y").c_str()));

    Touch("file");
    EXPECT_FALSE(File::ForceDirectories(Path("file").c_str())) << "a file in the way";
    EXPECT_FALSE(File::ForceDirectories(Path("file/sub").c_str())) << "a file as parent";
    EXPECT_FALSE(File::ForceDirectories(""));
    EXPECT_FALSE(File::ForceDirectories(nullptr));
    EXPECT_FALSE(File::ForceDirectories(std::string(5000, 'a').c_str()));
}

TEST_F(FileSystemTest, RenameEraseAndSize)
{
    Touch("old", "12345");
    Touch("new", "x");
    EXPECT_FALSE(File::RenameFile(Path("missing").c_str(), Path("new").c_str(), false));
    EXPECT_TRUE(File::RenameFile(Path("old").c_str(), Path("new").c_str(), true));
    EXPECT_EQ(File::GetFileSize(Path("new").c_str()), 5u);
    EXPECT_FALSE(File::IsFileExist(Path("old").c_str()));
    EXPECT_TRUE(File::EraseFile(Path("new").c_str()));
    EXPECT_FALSE(File::EraseFile(Path("new").c_str()));

    Touch("empty");
    EXPECT_EQ(File::GetFileSize(Path("empty").c_str()), 0u);
    try {
        File::GetFileSize(Path("missing").c_str());
        ADD_FAILURE() << "no exception";
    } catch (const vdk::FileException& e) {
        EXPECT_STREQ(e.what(), "Cannot open file");
    }
}

TEST_F(FileSystemTest, GetFileDataReplacesContentOrThrowsWithCode)
{
    Touch("data", "abc");
    Touch("empty");
    tru::BufferDynamic buffer(7);
    EXPECT_EQ(File::GetFileData(Path("data").c_str(), buffer), 3u);
    EXPECT_EQ(buffer.ToString(), "abc");
    EXPECT_EQ(File::GetFileData(Path("empty").c_str(), buffer), 0u);
    EXPECT_EQ(buffer.Size(), 0u);
    const std::string missing = Path("missing");
    try {
        File::GetFileData(missing.c_str(), buffer);
        ADD_FAILURE() << "no exception";
    } catch (const vdk::FileException& e) {
        EXPECT_EQ(std::string(e.what()), "Error loading file \"" + missing + "\", code: 0x6e");
    }
}

class WalkTest : public FileSystemTest {
protected:
    void SetUp() override
    {
        FileSystemTest::SetUp();
        MakeDir("d1");
        MakeDir("d2");
        MakeDir("d1/.hiddendir");
        Touch("top");
        Touch(".hidden");
        Touch("d1/a");
        Touch("d1/.h1");
        Touch("d1/.hiddendir/deep");
        Touch("d2/b");
    }
    std::set<std::string> Walk(bool recursive, bool skipHidden)
    {
        std::vector<File::FileInfo> found;
        EXPECT_TRUE(File::FindAllFilesInDirectory(root_.c_str(), found, recursive, skipHidden));
        std::set<std::string> rel;
        for (const auto& info : found) {
            EXPECT_EQ(info.path, File::MergeFilePath(root_.c_str(), "") + info.path.substr(root_.size()));
            EXPECT_EQ(info.isDirectory, File::IsDirectoryExist(info.path.c_str())) << info.path;
            rel.insert(info.path.substr(root_.size() + 1));
        }
        EXPECT_EQ(rel.size(), found.size()) << "an entry reported twice";
        return rel;
    }
};

TEST_F(WalkTest, HiddenEntriesAreSkippedBelowTheTopLevelAlways)
{
    const std::set<std::string> flat{"d1", "d2", "top", ".hidden"};
    EXPECT_EQ(Walk(false, false), flat);
    const std::set<std::string> deep{"d1", "d2", "top", ".hidden", "d1/a", "d2/b"};
    EXPECT_EQ(Walk(true, false), deep);
    const std::set<std::string> deepVisible{"d1", "d2", "top", "d1/a", "d2/b"};
    EXPECT_EQ(Walk(true, true), deepVisible);
}

TEST_F(WalkTest, CallbackStopEndsTheWholeWalk)
{
    struct Counter { int seen = 0; int stopAt; };
    Counter counter{0, 2};
    auto stopper = [](const File::FileInfo&, void* ctx) {
        auto* c = static_cast<Counter*>(ctx);
        return ++c->seen < c->stopAt;
    };
    EXPECT_FALSE(File::FindAllFilesInDirectory(root_.c_str(), stopper, &counter, true, true));
    EXPECT_EQ(counter.seen, 2);
}

TEST_F(WalkTest, SymlinkLoopIsReportedButNotFollowed)
{
    ASSERT_EQ(symlink(root_.c_str(), Path("d1/up").c_str()), 0);
    ASSERT_EQ(symlink(Path("d2").c_str(), Path("d1/side").c_str()), 0);
    // The loop link is reported and not entered; a link to a sibling is walked like a directory.
    const std::set<std::string> expected{"d1", "d2", "top", "d1/a", "d2/b", "d1/up", "d1/side", "d1/side/b"};
    EXPECT_EQ(Walk(true, true), expected);
}

TEST_F(WalkTest, MissingDirectoryThrows)
{
    std::vector<File::FileInfo> found;
    EXPECT_THROW(File::FindAllFilesInDirectory(Path("missing").c_str(), found, true, false), vdk::FileException);
}

}  // namespace
