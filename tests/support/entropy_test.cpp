#include "support/entropy.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/vdk_exception.h"

namespace {

// Plays scripted answers: per descriptor a queue of reads, each either bytes or an errno.
class ScriptedDevices : public vdk::EntropyDevices {
public:
    struct Answer { ssize_t bytes; int error; };

    int Open(const char* path, int flags) override
    {
        opens.push_back(std::string(path) + ((flags & O_NONBLOCK) ? " nonblock" : ""));
        if (failOpen.count(opens.size()))
            return -1;
        const int fd = static_cast<int>(opens.size()) + 10;
        open.insert(fd);
        device[fd] = path;
        return fd;
    }
    ssize_t Read(int fd, void* buffer, size_t length) override
    {
        auto& queue = script[device[fd]];
        if (queue.empty()) {
            errno = EIO;
            return -1;
        }
        const Answer a = queue.front();
        queue.pop_front();
        if (a.bytes < 0) {
            errno = a.error;
            return -1;
        }
        const size_t n = std::min(length, static_cast<size_t>(a.bytes));
        std::memset(buffer, device[fd] == "/dev/random" ? 0x52 : 0x55, n);
        return static_cast<ssize_t>(n);
    }
    void Close(int fd) override { open.erase(fd); }

    std::map<std::string, std::deque<Answer>> script;
    std::map<int, std::string> device;
    std::vector<std::string> opens;
    std::set<size_t> failOpen;  // 1-based numbers of Open calls that fail
    std::set<int> open;
};

std::deque<ScriptedDevices::Answer> Interruptions(size_t count)
{
    return std::deque<ScriptedDevices::Answer>(count, {-1, EINTR});
}

TEST(EntropyTest, StrongSourceFirstThenWeakForTheRest)
{
    struct Case {
        const char* name;
        std::deque<ScriptedDevices::Answer> random, urandom;
        size_t fromRandom;
    } cases[] = {
        {"random answers EAGAIN at once", {{-1, EAGAIN}}, {{16, 0}}, 0},
        {"random gives part", {{5, 0}, {-1, EAGAIN}}, {{16, 0}}, 5},
        {"interrupted reads are retried", {{-1, EINTR}, {3, 0}, {-1, EAGAIN}}, {{-1, EINTR}, {4, 0}, {16, 0}}, 3},
        {"random gives everything", {{16, 0}}, {}, 16},
        {"random at end of file", {{0, 0}}, {{16, 0}}, 0},
    };
    for (auto& c : cases) {
        ScriptedDevices devices;
        devices.script["/dev/random"] = c.random;
        devices.script["/dev/urandom"] = c.urandom;
        unsigned char out[16] = {};
        EXPECT_EQ(vdk::GetUnixEntropySlow(devices, out, sizeof out), 16u) << c.name;
        for (size_t i = 0; i < sizeof out; ++i)
            ASSERT_EQ(out[i], i < c.fromRandom ? 0x52 : 0x55) << c.name << " byte " << i;
        EXPECT_TRUE(devices.open.empty()) << c.name;
    }
}

TEST(EntropyTest, BadDescriptorReopensOnceNonBlocking)
{
    ScriptedDevices devices;
    devices.script["/dev/random"] = {{-1, EBADF}, {2, 0}, {-1, EBADF}};
    devices.script["/dev/urandom"] = {{-1, EBADF}, {8, 0}};
    unsigned char out[10];
    EXPECT_EQ(vdk::GetUnixEntropySlow(devices, out, sizeof out), 10u);
    const std::vector<std::string> expected = {"/dev/random nonblock", "/dev/urandom", "/dev/random nonblock",
                                               "/dev/urandom nonblock"};
    EXPECT_EQ(devices.opens, expected);
    EXPECT_TRUE(devices.open.empty());
}

TEST(EntropyTest, FailuresThrowWithBothDescriptorsClosed)
{
    struct Case {
        const char* name;
        std::deque<ScriptedDevices::Answer> random, urandom;
        std::set<size_t> failOpen;
        const char* message;
    } cases[] = {
        {"random cannot open", {}, {}, {1}, "Error opening /dev/random"},
        {"urandom cannot open", {}, {}, {2}, "Error opening /dev/urandom"},
        {"urandom reopen fails", {{-1, EAGAIN}}, {{-1, EBADF}}, {3}, "Error opening /dev/urandom again"},
        {"urandom read fails", {{-1, EAGAIN}}, {{2, 0}, {-1, EIO}}, {}, "Error reading /dev/urandom. errno: 5"},
        {"urandom second bad descriptor", {{-1, EAGAIN}}, {{-1, EBADF}, {-1, EBADF}}, {},
         "Error reading /dev/urandom. errno: 9"},
        {"too many interruptions of random", Interruptions(1025), {}, {}, "sanity > MAX_RAND_READS for random read"},
        {"too many interruptions of urandom", {{-1, EAGAIN}}, Interruptions(1025), {},
         "sanity > MAX_RAND_READS for urandom read"},
    };
    for (auto& c : cases) {
        ScriptedDevices devices;
        devices.script["/dev/random"] = c.random;
        devices.script["/dev/urandom"] = c.urandom;
        devices.failOpen = c.failOpen;
        unsigned char out[8];
        try {
            vdk::GetUnixEntropySlow(devices, out, sizeof out);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const vdk::Exception& e) {
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
        EXPECT_TRUE(devices.open.empty()) << c.name;
    }
}

TEST(EntropyTest, ExactlyTheLimitOfInterruptionsStillSucceeds)
{
    ScriptedDevices devices;
    devices.script["/dev/random"] = Interruptions(1024);
    devices.script["/dev/random"].push_back({8, 0});
    unsigned char out[8];
    EXPECT_EQ(vdk::GetUnixEntropySlow(devices, out, sizeof out), 8u);
}

TEST(EntropyTest, ZeroLengthStillOpensAndClosesBothDevices)
{
    ScriptedDevices devices;
    EXPECT_EQ(vdk::GetUnixEntropySlow(devices, nullptr, 0), 0u);
    EXPECT_EQ(devices.opens.size(), 2u);
    EXPECT_TRUE(devices.open.empty());
}

TEST(EntropyTest, SystemDevicesFillTheWholeBuffer)
{
    std::vector<unsigned char> a(64, 0), b(64, 0);
    EXPECT_EQ(vdk::GetEntropySlow(a.data(), 64), 64u);
    EXPECT_EQ(vdk::GetEntropySlow(b.data(), 64), 64u);
    EXPECT_NE(a, b);
}

}  // namespace
