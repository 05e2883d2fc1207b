#include "host/np_host.h"

#include "NPAPI/npapi_plugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using npdlscp_test::NpHost;

namespace {

const char kName[] = "Verit \xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7 Kesvar-1. "
                     "\xC1\xB3\xE1\xEB\xB3\xEE\xF2\xE5\xEA\xE0 \xEF\xB3\xE4\xEF\xE8\xF1\xF3 (NPAPI)";
const char kDescription[] = "NPAPI-\xE1\xB3\xE1\xEB\xB3\xEE\xF2\xE5\xEA\xE0 "
                            "\xEF\xB3\xE4\xEF\xE8\xF1\xF3 "
                            "\xEA\xEE\xF0\xF1\xE8\xF2\xF3\xE2\xE0\xF7\xE0 Kesvar";

struct TableCase {
    const char* name;
    uint16_t browserSize;
    uint16_t browserVersion;
    uint16_t pluginSize;
    bool nullBrowser;
    bool nullPlugin;
    NPError expected;
    bool browserCopied;
};

class InitializeTableTest : public ::testing::TestWithParam<TableCase> {};

TEST_P(InitializeTableTest, ChecksVersionThenSizes)
{
    const TableCase& c = GetParam();
    NpHost host;
    host.BrowserFuncs().size = c.browserSize;
    host.BrowserFuncs().version = c.browserVersion;
    // An entry past setexception: the plug-in keeps none of those.
    host.BrowserFuncs().pushpopupsenabledstate = reinterpret_cast<NPAnyFuncPtr>(&std::abort);
    host.PluginFuncs().size = c.pluginSize;
    const NPError rc = host.Initialize(c.nullBrowser ? nullptr : &host.BrowserFuncs(),
                                       c.nullPlugin ? nullptr : &host.PluginFuncs());
    EXPECT_EQ(rc, c.expected);

    const auto* copy = static_cast<const NPNetscapeFuncs*>(host.Symbol("g_NPNFuncs"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->memalloc != nullptr, c.browserCopied);
    EXPECT_EQ(copy->pushpopupsenabledstate, nullptr);
    const bool filled = rc == NPERR_NO_ERROR;
    EXPECT_EQ(host.PluginFuncs().newp != nullptr, filled);
    if (filled) {
        EXPECT_EQ(copy->size, c.browserSize);
        EXPECT_EQ(copy->releasevariantvalue, host.BrowserFuncs().releasevariantvalue);
        EXPECT_EQ(host.PluginFuncs().setvalue, host.Symbol("NPP_SetValue"));
        EXPECT_EQ(host.PluginFuncs().getvalue, host.Symbol("NPP_GetValue"));
        EXPECT_EQ(host.PluginFuncs().javaClass, nullptr);
        EXPECT_EQ(host.PluginFuncs().size, c.pluginSize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, InitializeTableTest,
    ::testing::Values(
        TableCase{"ExactSizesAccepted", 472, 27, 120, false, false, NPERR_NO_ERROR, true},
        TableCase{"MinorVersion255Accepted", 472, 0x00FF, 120, false, false, NPERR_NO_ERROR, true},
        TableCase{"BrowserTableTooShort", 471, 27, 120, false, false,
                  NPERR_INVALID_FUNCTABLE_ERROR, false},
        TableCase{"PluginTableTooShortKeepsBrowserCopy", 472, 27, 119, false, false,
                  NPERR_INVALID_FUNCTABLE_ERROR, true},
        TableCase{"MajorVersionOne", 472, 0x0100, 120, false, false,
                  NPERR_INCOMPATIBLE_VERSION_ERROR, false},
        TableCase{"VersionCheckedBeforeSize", 10, 0x0200, 120, false, false,
                  NPERR_INCOMPATIBLE_VERSION_ERROR, false},
        TableCase{"NoBrowserTable", 472, 27, 120, true, false, NPERR_INVALID_FUNCTABLE_ERROR,
                  false},
        TableCase{"NoPluginTable", 472, 27, 120, false, true, NPERR_INVALID_FUNCTABLE_ERROR,
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginTexts, NamesVersionAndMimeType)
{
    NpHost host;
    auto getValue = reinterpret_cast<NP_GetValueFunc>(host.Symbol("NP_GetValue"));
    const char* text = nullptr;
    EXPECT_EQ(getValue(nullptr, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, kName);
    EXPECT_EQ(getValue(reinterpret_cast<void*>(0x1), NPPVpluginDescriptionString, &text),
              NPERR_NO_ERROR);
    EXPECT_STREQ(text, kDescription);
    EXPECT_EQ(getValue(nullptr, NPPVpluginScriptableNPObject, &text),
              NPERR_INVALID_INSTANCE_ERROR);

    for (const char* name : {"NP_GetPluginVersion", "NPP_GetPluginVersion"})
        EXPECT_STREQ(reinterpret_cast<NP_GetPluginVersionFunc>(host.Symbol(name))(), "1.3.1.3");
    for (const char* name : {"NP_GetMIMEDescription", "NPP_GetMIMEDescription"})
        EXPECT_STREQ(reinterpret_cast<NP_GetMIMEDescriptionFunc>(host.Symbol(name))(),
                     "application/x-dalsign-cp:dlscp:Verit End User Kesvar-1. Sign library (web)");
}

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(host.Initialize(), NPERR_NO_ERROR);
        ASSERT_EQ(host.NewInstance(instance), NPERR_NO_ERROR);
        ASSERT_NE(instance.pdata, nullptr);
    }
    void TearDown() override
    {
        if (instance.pdata) {
            EXPECT_EQ(host.Destroy(instance), NPERR_NO_ERROR);
        }
        EXPECT_EQ(host.LiveObjects(), 0);
        EXPECT_EQ(host.LiveAllocations(), 0);
    }
    const NPAPIPlugin& Plugin() const { return *static_cast<const NPAPIPlugin*>(instance.pdata); }

    NpHost host;
    NPP_t instance{};
};

// One row per callback: its answer for a null instance, for an instance without plug-in
// object, and for a live one.
TEST_F(InstanceTest, CallbacksAnswerPerInstanceState)
{
    const NPPluginFuncs& f = host.PluginFuncs();
    constexpr int kSkipLive = -100; // destroying the live instance is TearDown's
    NPStream stream{};
    uint16_t streamType = 0;
    char buffer[4] = {};
    const struct {
        const char* name;
        std::function<int(NPP)> call;
        int nullInstance, noPlugin, live;
    } rows[] = {
        {"setwindow null window", [&](NPP i) { return f.setwindow(i, nullptr); }, 2, 1, 1},
        {"newstream", [&](NPP i) { return f.newstream(i, nullptr, &stream, 0, &streamType); }, 2, 0, 0},
        {"destroystream", [&](NPP i) { return f.destroystream(i, &stream, 0); }, 2, 0, 0},
        {"setvalue", [&](NPP i) { return f.setvalue(i, NPNVariable{}, nullptr); }, 2, 0, 0},
        {"writeready", [&](NPP i) { return f.writeready(i, &stream); }, 0, 0x0FFFFFFF, 0x0FFFFFFF},
        {"write", [&](NPP i) { return f.write(i, &stream, 0, 4, buffer); }, -1, -1, -1},
        {"event", [&](NPP i) { return f.event(i, nullptr); }, 2, 1, 1},
        {"getvalue unknown", [&](NPP i) { const char* t; return f.getvalue(i, NPPVariable(3), &t); }, 2, 1, 1},
        {"getvalue name", [&](NPP i) { const char* t; return f.getvalue(i, NPPVpluginNameString, &t); }, 2, 1, 0},
        {"destroy", [&](NPP i) { return f.destroy(i, nullptr); }, 2, 1, kSkipLive},
    };
    NPP_t empty{};
    for (const auto& row : rows) {
        EXPECT_EQ(row.call(nullptr), row.nullInstance) << row.name;
        EXPECT_EQ(row.call(&empty), row.noPlugin) << row.name;
        if (row.live != kSkipLive) {
            EXPECT_EQ(row.call(&instance), row.live) << row.name;
        }
    }
    f.asfile(nullptr, &stream, "x");
    f.print(&instance, nullptr);
    f.urlnotify(&instance, "x", 0, nullptr);
    EXPECT_EQ(f.newp(nullptr, nullptr, 1, 0, nullptr, nullptr, nullptr), 2);

    const char* name = nullptr;
    ASSERT_EQ(f.getvalue(&instance, NPPVpluginNameString, &name), 0);
    EXPECT_STREQ(name, kName);
    ASSERT_EQ(f.getvalue(&instance, NPPVpluginDescriptionString, &name), 0);
    EXPECT_STREQ(name, kDescription);
}

TEST_F(InstanceTest, WindowWithoutHandleLeavesInstanceUninitialised)
{
    EXPECT_EQ(host.SetWindow(instance, nullptr), NPERR_NO_ERROR);
    EXPECT_FALSE(Plugin().IsInitialized());
    EXPECT_EQ(host.SetWindow(instance, reinterpret_cast<void*>(0x1234)), NPERR_NO_ERROR);
    EXPECT_TRUE(Plugin().IsInitialized());
    EXPECT_EQ(host.SetWindow(instance, nullptr), NPERR_NO_ERROR);
    EXPECT_TRUE(Plugin().IsInitialized());
}

TEST_F(InstanceTest, ScriptableObjectIsSharedAndOutlivesItsInstance)
{
    NPObject* first = host.Scriptable(instance);
    NPObject* second = host.Scriptable(instance);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    // The instance's own reference and one per query.
    EXPECT_EQ(first->referenceCount, 3u);
    auto getScriptable =
        reinterpret_cast<NPObject* (*)(NPP)>(host.Symbol("NPP_GetScriptableInstance"));
    EXPECT_EQ(getScriptable(&instance), first);
    EXPECT_EQ(first->referenceCount, 4u);
    EXPECT_EQ(getScriptable(nullptr), nullptr);

    ASSERT_EQ(host.Destroy(instance), NPERR_NO_ERROR);
    EXPECT_EQ(instance.pdata, nullptr);
    EXPECT_EQ(host.LiveObjects(), 1);
    EXPECT_EQ(first->referenceCount, 3u);
    // Still usable by the page.
    EXPECT_EQ(host.ProcessData(first, "\"info\""), "{\"version\": \"1.3.1.3\"}");
    host.Release(first);
    host.Release(first);
    host.Release(first);
    EXPECT_EQ(host.LiveObjects(), 0);
}

TEST_F(InstanceTest, ObjectOffersOnlyProcessData)
{
    NPObject* object = host.Scriptable(instance);
    ASSERT_NE(object, nullptr);
    const NPClass* c = object->_class;
    EXPECT_EQ(c->structVersion, 3u);
    EXPECT_TRUE(c->hasMethod(object, host.Identifier("ProcessData")));
    EXPECT_FALSE(c->hasMethod(object, host.Identifier("processData")));
    NPVariant value{};
    EXPECT_FALSE(c->hasProperty(object, host.Identifier("ProcessData")));
    EXPECT_FALSE(c->getProperty(object, host.Identifier("ProcessData"), &value));
    EXPECT_FALSE(c->setProperty(object, host.Identifier("x"), &value));
    EXPECT_FALSE(c->removeProperty(object, host.Identifier("x")));
    EXPECT_FALSE(c->invokeDefault(object, nullptr, 0, &value));
    EXPECT_FALSE(c->construct(object, nullptr, 0, &value));
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    EXPECT_FALSE(c->enumerate(object, &ids, &count));
    c->invalidate(object);
    EXPECT_EQ(host.Call(object, "Other", nullptr, 0), std::nullopt);
    host.Release(object);
}

} // namespace
