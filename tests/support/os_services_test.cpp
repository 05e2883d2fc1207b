#include "support/os_services.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

namespace {

TEST(OsServicesTest, ApplicationNameComesFromProcSelfExe)
{
    const std::string full = vdk::GetApplicationFullName();
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(full.front(), '/');
    EXPECT_EQ(vdk::GetApplicationName(), "support_tests");
    EXPECT_EQ(vdk::GetApplicationPath() + "/" + vdk::GetApplicationName(), full);
}

TEST(OsServicesTest, LibraryFileNameOfAnAddress)
{
    const void* inLibc = dlsym(RTLD_DEFAULT, "getpid");
    ASSERT_NE(inLibc, nullptr);
    const std::string libc = vdk::GetLibraryFullFilename(inLibc);
    EXPECT_NE(libc.find("libc.so"), std::string::npos) << libc;
    EXPECT_EQ(vdk::GetLibraryPath(inLibc) + "/", libc.substr(0, libc.rfind('/') + 1));

    EXPECT_EQ(vdk::GetLibraryFullFilename(reinterpret_cast<const void*>(16)), "");
    EXPECT_EQ(vdk::GetLibraryFullFilename(nullptr), "");
}

TEST(OsServicesTest, IdentifiersAndSleep)
{
    EXPECT_EQ(vdk::GetPid(), static_cast<int>(getpid()));
    EXPECT_EQ(vdk::GetThreadId(), static_cast<unsigned long>(pthread_self()));
    // A negative duration sleeps 0: taken as a huge unsigned wait, it would run into the
    // test's time-out.
    vdk::SleepMs(-5);
}

TEST(OsServicesTest, GetchReadsOneKeyWithoutLineEndOrEcho)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before {};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);
    ASSERT_TRUE(before.c_lflag & ECHO);
    const int savedStdin = dup(0);
    ASSERT_EQ(dup2(slave, 0), 0);
    clearerr(stdin);

    // Type the key only once getch has left canonical mode.
    std::thread typist([master] {
        termios now {};
        do {
            std::this_thread::yield();
            tcgetattr(master, &now);
        } while (now.c_lflag & ICANON);
        const char key = 'k';
        if (write(master, &key, 1) != 1)
            ADD_FAILURE() << "could not type";
    });
    const int c = vdk::getch();
    typist.join();

    termios after {};
    tcgetattr(slave, &after);
    dup2(savedStdin, 0);
    close(savedStdin);
    clearerr(stdin);

    EXPECT_EQ(c, 'k');
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "terminal mode restored";
    fcntl(master, F_SETFL, O_NONBLOCK);
    char echoed[8];
    EXPECT_LE(read(master, echoed, sizeof echoed), 0) << "the key was echoed";
    close(master);
    close(slave);
}

}  // namespace
