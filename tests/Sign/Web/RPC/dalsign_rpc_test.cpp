#include "host/np_host.h"

#include "RPC/dalsign_rpc.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// The plug-in's loader exports, called directly while the stage folder is the working
// directory (where the plug-in itself would have gone).
class ServiceLoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        before = npdlscp_test::CurrentDirectory();
        ASSERT_EQ(chdir(npdlscp_test::StageDirectory().c_str()), 0);
        load = reinterpret_cast<int (*)()>(host.Symbol("DalsignRPCLoad"));
        unload = reinterpret_cast<void (*)()>(host.Symbol("DalsignRPCUnload"));
        getInterface = reinterpret_cast<int (*)(IDalsignRPC**)>(host.Symbol("DalsignRPCGetInterface"));
        ASSERT_TRUE(load && unload && getInterface);
    }
    void TearDown() override
    {
        EXPECT_EQ(chdir(before.c_str()), 0);
        EXPECT_FALSE(npdlscp_test::ServiceLoaded());
    }

    npdlscp_test::NpHost host;
    std::string before;
    int (*load)() = nullptr;
    void (*unload)() = nullptr;
    int (*getInterface)(IDalsignRPC**) = nullptr;
};

TEST_F(ServiceLoaderTest, LoadsAreCountedAndTheLastUnloadFrees)
{
    IDalsignRPC* rpc = nullptr;
    EXPECT_EQ(getInterface(&rpc), 0);
    unload(); // nothing loaded: no effect

    ASSERT_EQ(load(), 1);
    ASSERT_EQ(load(), 1);
    EXPECT_NE(getInterface(&rpc), 0);
    EXPECT_NE(rpc, nullptr);
    EXPECT_EQ(getInterface(nullptr), 0);
    unload();
    EXPECT_TRUE(npdlscp_test::ServiceLoaded());
    EXPECT_NE(getInterface(&rpc), 0);
    unload();
    EXPECT_FALSE(npdlscp_test::ServiceLoaded());
    EXPECT_EQ(getInterface(&rpc), 0);
    unload();
}

TEST_F(ServiceLoaderTest, MissingServiceIsNotLoaded)
{
    npdlscp_test::ServiceHidden hidden;
    EXPECT_EQ(load(), 0);
    IDalsignRPC* rpc = nullptr;
    EXPECT_EQ(getInterface(&rpc), 0);
}

} // namespace
