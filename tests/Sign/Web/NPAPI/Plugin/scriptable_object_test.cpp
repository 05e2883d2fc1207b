#include "host/np_host.h"
#include "support/base64_text.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using npdlscp_test::DecodeBase64;
using npdlscp_test::NpHost;
using npdlscp_test::PatternBytes;
using npdlscp_test::ServiceLoaded;
using npdlscp_test::ServiceState;

namespace {

constexpr char kInfoReply[] = "{\"version\": \"1.3.1.3\"}";

// A page with one plug-in instance and its scriptable object, in a headless browser.
class ScriptableObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv(kDlscprpcTestVariable);
        directory = npdlscp_test::CurrentDirectory();
        ASSERT_EQ(host.Initialize(), NPERR_NO_ERROR);
        object = OpenInstance(instance);
        ASSERT_NE(object, nullptr);
    }
    void TearDown() override
    {
        host.Release(object);
        if (instance.pdata) {
            EXPECT_EQ(host.Destroy(instance), NPERR_NO_ERROR);
        }
        unsetenv(kDlscprpcTestVariable);
        EXPECT_EQ(npdlscp_test::CurrentDirectory(), directory);
        EXPECT_FALSE(ServiceLoaded());
        EXPECT_EQ(host.LiveObjects(), 0);
        EXPECT_EQ(host.LiveAllocations(), 0);
    }

    NPObject* OpenInstance(NPP_t& npp)
    {
        if (host.NewInstance(npp) != NPERR_NO_ERROR ||
            host.SetWindow(npp, reinterpret_cast<void*>(0x1)) != NPERR_NO_ERROR)
            return nullptr;
        return host.Scriptable(npp);
    }

    std::optional<std::string> Send(const std::string& text) { return host.ProcessData(object, text); }

    // Sends the request and "next" until the last part; the decoded parts joined.
    std::string FetchResult(const std::string& request, int* parts)
    {
        std::string joined;
        std::optional<std::string> reply = Send(request);
        for (*parts = 1;; ++*parts) {
            if (!reply || reply->size() < 6)
                return "(no reply)";
            std::string bytes;
            EXPECT_TRUE(DecodeBase64(reply->substr(5, reply->size() - 6), bytes));
            joined += bytes;
            if (reply->compare(0, 5, "\"part") != 0)
                break;
            reply = Send("\"next\"");
        }
        EXPECT_EQ(reply->compare(0, 5, "\"last"), 0);
        return joined;
    }

    NpHost host;
    NPP_t instance{};
    NPObject* object = nullptr;
    std::string directory;
};

TEST_F(ScriptableObjectTest, WholeRoadThroughTheService)
{
    EXPECT_EQ(Send("\"info\""), kInfoReply);
    EXPECT_TRUE(ServiceLoaded());
    EXPECT_EQ(npdlscp_test::CurrentDirectory(), directory);

    EXPECT_EQ(Send("echo:hello"), "\"lastaGVsbG8=\"");
    EXPECT_EQ(Send("echo:"), "\"last\"");
    EXPECT_EQ(Send("unknown request"), "\"err1\"");

    int parts = 0;
    EXPECT_TRUE(FetchResult("bytes:2000000", &parts) == PatternBytes(2000000));
    EXPECT_EQ(parts, 3);
    EXPECT_EQ(Send("\"next\""), "\"err0\"");

    const DlscprpcTestState state = ServiceState();
    EXPECT_EQ(state.initializeCalls, 1);
    EXPECT_EQ(state.processCalls, 4);
    EXPECT_EQ(state.liveAllocations, 0);
}

TEST_F(ScriptableObjectTest, WrongArgumentsFailWithoutLoadingTheService)
{
    NPVariant strings[2] = {};
    for (auto& s : strings) {
        s.type = NPVariantType_String;
        s.value.stringValue = NPString{"\"info\"", 6};
    }
    NPVariant number{};
    number.type = NPVariantType_Int32;
    number.value.intValue = 6;
    NPVariant noCharacters{};
    noCharacters.type = NPVariantType_String;
    noCharacters.value.stringValue = NPString{nullptr, 6};
    const struct {
        const char* name;
        const NPVariant* args;
        uint32_t count;
    } rows[] = {
        {"no argument", nullptr, 0},
        {"two strings", strings, 2},
        {"a number", &number, 1},
        {"a string without characters", &noCharacters, 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(host.Call(object, "ProcessData", row.args, row.count), std::nullopt) << row.name;
    EXPECT_FALSE(ServiceLoaded());
    EXPECT_EQ(host.Call(object, "ProcessData", strings, 1), kInfoReply);
}

TEST_F(ScriptableObjectTest, ServiceThatFailsToStartIsReleasedAndTriedAgain)
{
    setenv(kDlscprpcTestVariable, "fail-initialize", 1);
    EXPECT_EQ(Send("\"info\""), std::nullopt);
    EXPECT_FALSE(ServiceLoaded());
    EXPECT_EQ(npdlscp_test::CurrentDirectory(), directory);
    auto getInterface = reinterpret_cast<int (*)(void**)>(host.Symbol("DalsignRPCGetInterface"));
    void* rpc = nullptr;
    EXPECT_EQ(getInterface(&rpc), 0);

    unsetenv(kDlscprpcTestVariable);
    EXPECT_EQ(Send("\"info\""), kInfoReply);
    EXPECT_EQ(ServiceState().initializeCalls, 1);
}

TEST_F(ScriptableObjectTest, MissingServiceFailsAndLeavesTheDirectory)
{
    {
        npdlscp_test::ServiceHidden hidden;
        EXPECT_EQ(Send("\"info\""), std::nullopt);
        EXPECT_EQ(npdlscp_test::CurrentDirectory(), directory);
    }
    EXPECT_EQ(Send("\"info\""), kInfoReply);
}

TEST_F(ScriptableObjectTest, TwoInstancesShareOneLoadFreedAfterTheSecond)
{
    NPP_t otherInstance{};
    NPObject* other = OpenInstance(otherInstance);
    ASSERT_NE(other, nullptr);
    ASSERT_NE(other, object);
    EXPECT_EQ(Send("\"info\""), kInfoReply);
    EXPECT_EQ(host.ProcessData(other, "echo:x"), "\"lasteA==\"");
    EXPECT_EQ(ServiceState().initializeCalls, 2);

    // The page drops the first object: the second still holds the service.
    ASSERT_EQ(host.Destroy(instance), NPERR_NO_ERROR);
    host.Release(object);
    object = nullptr;
    ASSERT_TRUE(ServiceLoaded());
    EXPECT_EQ(ServiceState().finalizeCalls, 1);
    EXPECT_EQ(host.ProcessData(other, "echo:y"), "\"lasteQ==\"");

    ASSERT_EQ(host.Destroy(otherInstance), NPERR_NO_ERROR);
    host.Release(other);
    EXPECT_FALSE(ServiceLoaded());
}

TEST_F(ScriptableObjectTest, ReplyTheBrowserCannotTakeDropsThePendingResult)
{
    ASSERT_EQ(Send("bytes:800000")->compare(0, 5, "\"part"), 0);
    EXPECT_EQ(ServiceState().liveAllocations, 1);
    host.FailMemAlloc(true);
    EXPECT_EQ(Send("\"next\""), std::nullopt);
    host.FailMemAlloc(false);
    EXPECT_EQ(ServiceState().liveAllocations, 0);
    EXPECT_EQ(Send("\"next\""), "\"err0\"");
}

TEST_F(ScriptableObjectTest, ServiceEncodingFailureAnswersErr1)
{
    setenv(kDlscprpcTestVariable, "fail-encode=2", 1);
    ASSERT_EQ(Send("bytes:800000")->compare(0, 5, "\"part"), 0);
    EXPECT_EQ(Send("\"next\""), "\"err1\"");
    EXPECT_EQ(ServiceState().liveAllocations, 0);
    EXPECT_EQ(Send("\"next\""), "\"err0\"");
}

TEST_F(ScriptableObjectTest, ResetAbandonsAPendingResult)
{
    ASSERT_EQ(Send("bytes:800000")->compare(0, 5, "\"part"), 0);
    EXPECT_EQ(Send("\"rset\""), "\"err0\"");
    EXPECT_EQ(ServiceState().liveAllocations, 0);
    EXPECT_EQ(Send("echo:z"), "\"lasteg==\"");
}

TEST_F(ScriptableObjectTest, ObjectReleasedWithAPendingResultHandsItBack)
{
    ASSERT_EQ(Send("bytes:800000")->compare(0, 5, "\"part"), 0);
    // Keep the service loaded past the object's end to read its counters.
    void* service = dlopen(npdlscp_test::StagePath("dlscprpc.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(host.Destroy(instance), NPERR_NO_ERROR);
    host.Release(object);
    object = nullptr;
    const DlscprpcTestState state = ServiceState();
    EXPECT_EQ(state.liveAllocations, 0);
    EXPECT_EQ(state.finalizeCalls, 1);
    dlclose(service);
}

} // namespace
