#include "support/os_services.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

namespace {

TEST(OsServicesTest, ApplicationNameComesFromProcSelfExe)
{
    const std::string full = vdk::GetApplicationFullName();
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(full.front(), '/');
    EXPECT_EQ(vdk::GetApplicationName(), "base_tests");
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
    EXPECT_TRUE(vdk::SleepMs(0));
    EXPECT_TRUE(vdk::SleepMs(-5));
    EXPECT_TRUE(vdk::SleepMs(1));
}

}  // namespace
