#include "support/file_config.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/vdk_exception.h"

namespace {

using vdk::FileConfig;

class FileConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/zr-config-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/test.cfg";
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    void Write(const std::string& content) const { std::ofstream(path_, std::ios::binary) << content; }
    std::string Read() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    std::string dir_;
    std::string path_;
};

TEST_F(FileConfigTest, RewriteKeepsCommentsBlankLinesAndOrder)
{
    Write("x=1 # c\n\n#top\n  zz = a ## b  \r\n   \t \naa=2\n");
    {
        FileConfig config(path_, false);
        EXPECT_FALSE(config.IsModified());
        EXPECT_EQ(config.Get("zz"), "a # b");
        EXPECT_EQ(config.GetProperty("aa")->index, 6u) << "blank lines are counted in files";
        EXPECT_EQ(config.GetProperty("\n2")->value, "\n") << "value is the line as read";
        config.Save();
    }
    EXPECT_EQ(Read(), "x=1 # c\n\n#top\nzz=a ## b\n\naa=2\n");
}

TEST_F(FileConfigTest, LongLineIsReadInPiecesEachCounted)
{
    Write("a=" + std::string(4092, 'x') + "b=" + std::string(904, 'y') + "\nc=3\n");
    FileConfig config(path_, false);
    EXPECT_EQ(config.Get("a"), std::string(4092, 'x'));
    EXPECT_EQ(config.Get("b"), std::string(904, 'y'));
    EXPECT_EQ(config.GetProperty("b")->index, 2u);
    EXPECT_EQ(config.GetProperty("c")->index, 3u);
}

TEST_F(FileConfigTest, CarriageReturnInsideALineReadsAsHash)
{
    Write("a=b\rc\r\n");
    FileConfig config(path_, false);
    EXPECT_EQ(config.Get("a"), "b#c");
}

TEST_F(FileConfigTest, MissingAndBadFiles)
{
    const std::string missing = dir_ + "/missing.cfg";
    {
        FileConfig config(missing, true);
        EXPECT_FALSE(config.IsModified());
        std::vector<std::string> keys;
        EXPECT_EQ(config.GetKeys("", keys), 0);
    }
    EXPECT_NE(access(missing.c_str(), F_OK), 0) << "an untouched empty set writes nothing";
    try {
        FileConfig config(missing, false);
        ADD_FAILURE() << "no exception";
    } catch (const vdk::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "FileConfig: unable to open config file " + missing);
    }

    Write("a=1\n\nbroken\n");
    try {
        FileConfig config(path_, false);
        ADD_FAILURE() << "no exception";
    } catch (const vdk::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "FileConfig: wrong data in config file " + path_ + " in line 3");
    }
}

TEST_F(FileConfigTest, FailedReadIsNeverWrittenBackOnDestruction)
{
    const std::string original = "a=1\nbroken\nc=3\n";
    Write(original);
    {
        FileConfig config(dir_ + "/fresh.cfg", true);
        EXPECT_THROW(config.Reopen(path_), vdk::Exception);
        EXPECT_EQ(config.Get("a"), "1") << "entries before the bad line are kept";
        EXPECT_TRUE(config.IsModified());
    }
    EXPECT_EQ(Read(), original);
}

TEST_F(FileConfigTest, ModifiedSetIsSavedOnDestructionInIndexOrder)
{
    Write("b=1\na=2\n");
    {
        FileConfig config(path_, false);
        config.Put("k", "v#1", "note");
        config.Delete("a");
        config.Put("c", "3");  // index 3, the same as k
    }
    EXPECT_EQ(Read(), "b=1\nc=3\nk=v##1 #note\n") << "entries sharing an index are both written";
    FileConfig reread(path_, false);
    EXPECT_EQ(reread.Get("k"), "v#1");
    EXPECT_EQ(reread.GetProperty("k")->comment, "note");
}

TEST_F(FileConfigTest, WriteErrorsAreReported)
{
    FileConfig config;
    config.Put("a", "1");
    try {
        config.SaveAs("/dev/full");
        ADD_FAILURE() << "no exception";
    } catch (const vdk::Exception& e) {
        EXPECT_STREQ(e.what(), "FileConfig: error writing config file /dev/full");
    }
    EXPECT_TRUE(config.IsModified());
    EXPECT_THROW(config.SaveAs(dir_ + "/no/such/dir.cfg"), vdk::Exception);
    config.SaveAs(path_);
    EXPECT_FALSE(config.IsModified());
    EXPECT_EQ(Read(), "a=1\n");
}

}  // namespace
