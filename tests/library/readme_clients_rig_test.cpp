// The README's commands, run exactly as written: each block of its "Stock PKCS#11 clients"
// section, and the "$" lines of the utility's session with the output they show, from a project
// root holding this build's library and utility where a fresh clone's build puts them, inside a
// rig of its own on a fresh token.
#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "module_rig_fixture.h"

using namespace librarytest;

namespace {

const char kSection[] = "## Stock PKCS#11 clients";
const char kToolSection[] = "## The command-line utility zrtoksvc";

struct Block {
    std::string client;  // the first word of the block's first line, a comment
    std::string name;    // from that comment
    std::string script;  // the lines as written
    std::vector<std::string> shown;  // output lines the README shows, in order
};

std::string ReadmeSection(const char* title = kSection) {
    std::ifstream in(ZR_SOURCE_DIR "/README.md");
    std::ostringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const size_t start = readme.find(std::string(title) + "\n");
    if (start == std::string::npos) return std::string();
    const size_t end = readme.find("\n## ", start + 1);
    return readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void PrintTo(const Block& block, std::ostream* out) { *out << block.name; }

// "# p11-kit (a note)" names its block "p11_kit".
std::string BlockName(const std::string& comment) {
    std::string text = comment.substr(0, comment.find('('));
    std::string name;
    for (char c : text.substr(text.find_first_not_of("# "))) {
        const bool word = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (word) name += c;
        else if (!name.empty() && name.back() != '_') name += '_';
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

// The section's indented blocks, each one row's commands.
std::vector<Block> Blocks() {
    std::vector<Block> blocks;
    std::istringstream in(ReadmeSection());
    bool inBlock = false;
    for (std::string line; std::getline(in, line);) {
        const bool code = line.compare(0, 4, "    ") == 0;
        if (code && !inBlock) {
            const std::string comment = line.substr(4);
            const size_t word = comment.find_first_not_of("# ");
            blocks.push_back({comment.substr(word, comment.find(' ', word) - word), BlockName(comment), std::string(), {}});
        }
        if (code) blocks.back().script += line.substr(4) + "\n";
        inBlock = code;
    }
    return blocks;
}

// The utility's session: its "$ " lines are the script; the lines after them are shown output,
// but for "..." (lines left out) and the stopwatch's readings.
Block ToolSession() {
    Block session{"zrtoksvc", "zrtoksvc_session", std::string(), {}};
    std::istringstream in(ReadmeSection(kToolSection));
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 6, "    $ ") == 0)
            session.script += line.substr(6) + "\n";
        else if (!session.script.empty() && line.compare(0, 4, "    ") == 0 && line != "    ..." &&
                 line.compare(0, 12, "    Done in ") != 0)
            session.shown.push_back(line.substr(4));
        else if (!session.script.empty() && line.compare(0, 4, "    ") != 0)
            break;
    }
    return session;
}

std::vector<Block> AllBlocks() {
    std::vector<Block> blocks = Blocks();
    blocks.push_back(ToolSession());
    return blocks;
}

// The simulator options of the section's rig command line.
std::vector<std::string> SimulatorOptions() {
    const std::string section = ReadmeSection();
    const std::string lead = "rig.sh --sim \"";
    const size_t start = section.find(lead);
    if (start == std::string::npos) return {};
    const size_t from = start + lead.size();
    std::istringstream words(section.substr(from, section.find('"', from) - from));
    std::vector<std::string> options;
    for (std::string word; words >> word;) options.push_back(word);
    return options;
}

// A sanitizer-built module needs its runtime loaded first into the uninstrumented clients.
std::string SanitizerPrefix() {
#ifdef ZR_SANITIZER_PRELOAD
    return "LD_PRELOAD='" ZR_SANITIZER_PRELOAD "' ASAN_OPTIONS=detect_leaks=0 ";
#else
    return "";
#endif
}

void Link(const std::string& target, const std::string& link) {
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + link + "')\"").c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
}

class ReadmeClients : public ModuleRigTest, public ::testing::WithParamInterface<Block> {
protected:
    void SetUp() override {
        ZR_REQUIRE_TOOLS("pkcs11-tool", "p11tool", "modutil", "certutil", "p11-kit", "openssl");
        ASSERT_FALSE(SimulatorOptions().empty()) << "no rig command line in the README's section";
        StartRig({SimulatorOptions()});
        if (IsSkipped() || HasFatalFailure()) return;
        char pattern[] = "/tmp/zr-readme-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
        MakeRoot();
        // Writes to /etc (p11-kit's module folder) land in the work folder: the rig's mount
        // namespace lays a private layer over the machine's /etc.
        for (const char* dir : {"/tmp", "/etc-upper", "/etc-work"}) {
            ASSERT_EQ(mkdir((work + dir).c_str(), 0700), 0) << dir;
        }
        const std::string layers = "lowerdir=/etc,upperdir=" + work + "/etc-upper,workdir=" + work + "/etc-work";
        ASSERT_EQ(mount("overlay", "/etc", "overlay", 0, layers.c_str()), 0) << "overlay on /etc: " << errno;
        etcLayered = true;
#ifdef ZR_SANITIZER_PRELOAD
        // With the sanitizer runtime preloaded, a process that loaded p11-kit's packaged modules
        // hangs at exit (this library loaded or not): the machine's modules are hidden here.
        const std::string empty = work + "/no-modules";
        ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);
        if (access(kPackagedModules, F_OK) == 0) {
            ASSERT_EQ(mount(empty.c_str(), kPackagedModules, nullptr, MS_BIND, nullptr), 0);
            modulesHidden = true;
        }
#endif
    }

    void TearDown() override {
        if (modulesHidden) umount2(kPackagedModules, MNT_DETACH);
        if (etcLayered) umount2("/etc", MNT_DETACH);
        ModuleRigTest::TearDown();
        if (!work.empty()) std::system(("rm -rf '" + work + "'").c_str());
    }

    // The project's files, with this build's library and utility where `build` has them.
    void MakeRoot() {
        const std::string root = work + "/root";
        DIR* source = opendir(ZR_SOURCE_DIR);
        ASSERT_NE(source, nullptr);
        for (dirent* entry; (entry = readdir(source)) != nullptr;) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name.compare(0, 5, "build") == 0) continue;
            Link(std::string(ZR_SOURCE_DIR) + "/" + name, root + "/" + name);
        }
        closedir(source);
        Link(ZR_REAL_MODULE, root + "/build/src/library/libzrcryptokiqel.so");
        Link(ZR_ZRTOKSVC, root + "/build/tools/zrtoksvc/zrtoksvc");
    }

    static constexpr const char* kPackagedModules = "/usr/share/p11-kit/modules";
    std::string work;
    bool etcLayered = false;
    bool modulesHidden = false;
};

TEST_P(ReadmeClients, RunsAsWritten) {
    if (IsSkipped() || HasFatalFailure()) return;
    const std::string script = work + "/block.sh";
    { std::ofstream(script) << GetParam().script; }
    const std::string line = "cd '" + work + "/root' && " + SanitizerPrefix() + "TMPDIR='" + work +
                             "/tmp' bash -ex '" + script + "' < /dev/null 2>&1";
    std::string output;
    FILE* pipe = popen(line.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << GetParam().script << "----\n" << output;
    size_t at = 0;
    for (const std::string& shown : GetParam().shown) {
        const size_t found = output.find(shown + "\n", at);
        EXPECT_NE(found, std::string::npos) << "not shown in this order: " << shown << "\n----\n" << output;
        if (found != std::string::npos) at = found + shown.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Readme, ReadmeClients, ::testing::ValuesIn(AllBlocks()),
                         [](const ::testing::TestParamInfo<Block>& info) { return info.param.name; });

// Every row of the section's table has commands: a block named by a client of the row.
TEST(ReadmeClientTable, EachRowHasItsBlock) {
    const std::vector<Block> blocks = Blocks();
    std::istringstream in(ReadmeSection());
    size_t rows = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 2, "| ") != 0 || line.compare(0, 8, "| client") == 0) continue;
        ++rows;
        const std::string client = line.substr(2, line.find(" |", 2) - 2);
        bool found = false;
        for (const Block& block : blocks) found = found || client.find(block.client) != std::string::npos;
        EXPECT_TRUE(found) << client;
    }
    EXPECT_GE(rows, 5u);
}

}  // namespace
