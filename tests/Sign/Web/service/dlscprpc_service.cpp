// A signing service whose behaviour the tests choose (see test_service.h).

#include "service/test_service.h"
#include "support/base64_text.h"

#include "RPC/idalsign_rpc.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

DlscprpcTestState g_state;

unsigned char* Hand(const std::string& bytes)
{
    auto* memory = static_cast<unsigned char*>(std::malloc(bytes.size() + 1));
    if (!memory)
        return nullptr;
    if (!bytes.empty())
        std::memcpy(memory, bytes.data(), bytes.size());
    ++g_state.liveAllocations;
    return memory;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

class TestService final : public IDalsignRPC {
public:
    int Finalize() override
    {
        ++g_state.finalizeCalls;
        return 1;
    }

    void FreeMemory(void* memory) override
    {
        if (!memory)
            return;
        --g_state.liveAllocations;
        std::free(memory);
    }

    int BASE64IsValid(const char* text) override
    {
        std::string bytes;
        return text && npdlscp_test::DecodeBase64(text, bytes) ? 1 : 0;
    }

    int BASE64Encode(const unsigned char* data, unsigned long length, char** text) override
    {
        if (++g_state.encodeCalls == g_state.failEncodeAt)
            return 0;
        *text = npdlscp_test::NewBase64Text(data, length);
        if (!*text)
            return 0;
        ++g_state.liveAllocations;
        return 1;
    }

    int BASE64Decode(const char* text, unsigned char** data, unsigned long* length) override
    {
        std::string bytes;
        if (!text || !npdlscp_test::DecodeBase64(text, bytes) || !(*data = Hand(bytes)))
            return 0;
        *length = bytes.size();
        return 1;
    }

    void Reserved5() override {}

    int Initialize() override
    {
        ++g_state.initializeCalls;
        const char* choice = std::getenv(kDlscprpcTestVariable);
        const std::string test = choice ? choice : "";
        g_state.failEncodeAt = 0;
        if (StartsWith(test, "fail-encode="))
            g_state.failEncodeAt = g_state.encodeCalls + std::atoi(test.c_str() + 12);
        return test == "fail-initialize" ? 0 : 1;
    }

    void Reserved7() override {}

    int Process(int channel, int flags, const unsigned char* request, unsigned long length,
                unsigned char** result, unsigned long* resultLength) override
    {
        ++g_state.processCalls;
        if (channel != 1 || flags != 1)
            return 0;
        const std::string text(reinterpret_cast<const char*>(request), length);
        std::string answer;
        if (StartsWith(text, "echo:"))
            answer = text.substr(5);
        else if (StartsWith(text, "bytes:"))
            answer = npdlscp_test::PatternBytes(std::strtoul(text.c_str() + 6, nullptr, 10));
        else
            return 0;
        if (!(*result = Hand(answer)))
            return 0;
        *resultLength = answer.size();
        return 1;
    }
};

TestService g_service;

} // namespace

extern "C" {

__attribute__((visibility("default"))) int DalsignRPCGetInterface(IDalsignRPC** rpc)
{
    if (!rpc)
        return 0;
    *rpc = &g_service;
    return 1;
}

__attribute__((visibility("default"))) DlscprpcTestState* DlscprpcTestStateOf()
{
    return &g_state;
}

} // extern "C"
