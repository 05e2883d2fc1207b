#include "hcy/hcy.h"

#include "host/np_host.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

namespace {

TEST(HcyDirectory, CurrentDirectoryNeedsRoomForItAll)
{
    const std::string now = npdlscp_test::CurrentDirectory();
    char buffer[4096];
    EXPECT_EQ(hcy::GetCurrentDirectory(sizeof buffer, buffer), now.size());
    EXPECT_EQ(buffer, now);
    EXPECT_EQ(hcy::GetCurrentDirectory(now.size(), buffer), 0u);
    EXPECT_EQ(hcy::GetCurrentDirectory(0, buffer), 0u);
    EXPECT_EQ(hcy::SetCurrentDirectory("/no/such/folder"), 0);
    EXPECT_EQ(hcy::SetCurrentDirectory(nullptr), 0);
    EXPECT_EQ(npdlscp_test::CurrentDirectory(), now);
}

TEST(HcyModules, LoadedModulePathByFileName)
{
    char path[4096];
    const unsigned long length = hcy::GetLoadedModulePath("libhcy.so", path, sizeof path);
    ASSERT_GT(length, std::strlen("/libhcy.so"));
    EXPECT_EQ(std::string(path).substr(length - 10), "/libhcy.so");
    EXPECT_EQ(hcy::GetLoadedModulePath("libhcy.so", path, length), 0u);
    EXPECT_EQ(hcy::GetLoadedModulePath("hcy.so", path, sizeof path), 0u);
    EXPECT_EQ(hcy::GetLoadedModulePath("", path, sizeof path), 0u);
}

TEST(HcyModules, BareNameIsLookedForInTheWorkingDirectoryFirst)
{
    const std::string before = npdlscp_test::CurrentDirectory();
    EXPECT_EQ(hcy::LoadLibrary("dlscprpc.so"), nullptr);
    ASSERT_EQ(chdir(npdlscp_test::StageDirectory().c_str()), 0);
    void* service = hcy::LoadLibrary("dlscprpc.so");
    ASSERT_EQ(chdir(before.c_str()), 0);
    ASSERT_NE(service, nullptr);
    EXPECT_NE(hcy::GetProcAddress(service, "DalsignRPCGetInterface"), nullptr);
    EXPECT_EQ(hcy::GetProcAddress(service, "NoSuchExport"), nullptr);
    EXPECT_EQ(hcy::FreeLibrary(service), 1);
    EXPECT_FALSE(npdlscp_test::ServiceLoaded());
    EXPECT_EQ(hcy::GetProcAddress(nullptr, "x"), nullptr);
    EXPECT_EQ(hcy::FreeLibrary(nullptr), 0);
    EXPECT_EQ(hcy::LoadLibrary(nullptr), nullptr);
}

} // namespace
