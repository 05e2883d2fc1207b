#include "NPAPI/Plugin/module_directory.h"

#include "host/np_host.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ModuleDirectory, DirectoryIsThePathUpToItsLastSlash)
{
    const std::string longDirectory = "/" + std::string(1039, 'd');
    const struct {
        std::string path;
        bool found;
        std::string directory;
    } rows[] = {
        {"/usr/lib/plugins/npdlscp.so", true, "/usr/lib/plugins"},
        {"/npdlscp.so", true, "/"},
        {"plugins/npdlscp.so", true, "plugins"},
        {"npdlscp.so", false, ""},
        {"C:\\plugins\\npdlscp.so", false, ""},
        {longDirectory + "/npdlscp.so", true, longDirectory},
        {longDirectory + "x/npdlscp.so", false, ""},
    };
    for (const auto& row : rows) {
        char directory[ModuleDirectoryScope::kPathRoom + 8];
        std::fill(std::begin(directory), std::end(directory), '#');
        const bool found = ModuleDirectoryScope::DirectoryOf(row.path.c_str(), directory,
                                                             ModuleDirectoryScope::kPathRoom);
        EXPECT_EQ(found, row.found) << row.path;
        if (found) {
            EXPECT_EQ(directory, row.directory);
        }
        // Nothing past the room given.
        EXPECT_EQ(directory[ModuleDirectoryScope::kPathRoom], '#');
    }
}

TEST(ModuleDirectory, ScopeEntersTheModuleFolderAndComesBack)
{
    const std::string before = npdlscp_test::CurrentDirectory();
    {
        // libhcy.so is loaded by this test program from the plug-in's build folder.
        ModuleDirectoryScope scope("libhcy.so");
        EXPECT_NE(npdlscp_test::CurrentDirectory(), before);
        EXPECT_EQ(access("libhcy.so", F_OK), 0);
    }
    EXPECT_EQ(npdlscp_test::CurrentDirectory(), before);
    {
        ModuleDirectoryScope scope("not-loaded.so");
        EXPECT_EQ(npdlscp_test::CurrentDirectory(), before);
    }
    EXPECT_EQ(npdlscp_test::CurrentDirectory(), before);
}

} // namespace
