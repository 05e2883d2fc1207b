#include "Extension/Common/jswe_connector.h"

#include "support/base64_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using npdlscp_test::DecodeBase64;
using npdlscp_test::NewBase64Text;
using npdlscp_test::PatternBytes;

namespace {

constexpr unsigned long kBufferSize = 0x100000;
constexpr unsigned long kLargestPart = 786423;

// Hands out the chosen result; encodes with the base library's base64; counts what it lends.
class FakeDelegate : public IJSWEConnectorDelegate {
public:
    std::string result;
    bool processFails = false;
    bool nullResult = false;
    int failEncodeAt = 0;    // the encode call with this number fails
    bool oversizeText = false; // the encoder answers a text longer than any part
    unsigned long bufferSize = kBufferSize;
    int processCalls = 0;
    int encodeCalls = 0;
    int live = 0;

    void FreeMemory(void* memory) override
    {
        if (memory) {
            --live;
            std::free(memory);
        }
    }
    const char* GetAppVersion() override { return "1.3.1.3"; }
    unsigned long GetMaxResponseBufferSize() override { return bufferSize; }
    int BASE64IsValid(const char*) override { return 0; }
    int BASE64Encode(const unsigned char* data, unsigned long length, char** text) override
    {
        if (++encodeCalls == failEncodeAt)
            return 0;
        if (oversizeText) {
            *text = static_cast<char*>(std::malloc(bufferSize + 1));
            std::memset(*text, 'A', bufferSize);
            (*text)[bufferSize] = '\0';
        } else {
            *text = NewBase64Text(data, length);
        }
        ++live;
        return 1;
    }
    int BASE64Decode(const char*, unsigned char**, unsigned long*) override { return 0; }
    int Process(const unsigned char*, unsigned long, unsigned char** out,
                unsigned long* outLength) override
    {
        ++processCalls;
        if (processFails)
            return 0;
        *outLength = result.size();
        if (nullResult) {
            *out = nullptr;
            return 1;
        }
        *out = static_cast<unsigned char*>(std::malloc(result.size() + 1));
        std::memcpy(*out, result.data(), result.size());
        ++live;
        return 1;
    }
};

class ConnectorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(connector.Initialize(&delegate), 1); }

    std::string Send(const std::string& text)
    {
        const unsigned char* reply = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(connector.HandleMessage(reinterpret_cast<const unsigned char*>(text.data()),
                                          text.size(), &reply, &length),
                  1);
        EXPECT_LE(length, delegate.bufferSize);
        return std::string(reinterpret_cast<const char*>(reply), length);
    }

    // Raw size of each part of a reply sequence, the parts joined, and the last reply.
    struct Fetched {
        std::vector<unsigned long> parts;
        std::string joined;
        std::string finalReply;
    };
    Fetched FetchAll(const std::string& request)
    {
        Fetched fetched;
        std::string reply = Send(request);
        for (;;) {
            const bool more = reply.compare(0, 5, "\"part") == 0;
            if (!more && reply.compare(0, 5, "\"last") != 0) {
                fetched.finalReply = reply;
                return fetched;
            }
            std::string bytes;
            EXPECT_EQ(reply.back(), '"');
            EXPECT_TRUE(DecodeBase64(reply.substr(5, reply.size() - 6), bytes));
            fetched.parts.push_back(bytes.size());
            fetched.joined += bytes;
            if (!more) {
                fetched.finalReply = reply;
                return fetched;
            }
            reply = Send("\"next\"");
        }
    }

    FakeDelegate delegate;
    JSWEConnector connector;
};

struct PartCase {
    const char* name;
    unsigned long resultSize;
    std::vector<unsigned long> parts;
};

class ConnectorPartTest : public ConnectorTest, public ::testing::WithParamInterface<PartCase> {};

TEST_P(ConnectorPartTest, ResultComesBackInPartsThatFitTheBuffer)
{
    delegate.result = PatternBytes(GetParam().resultSize);
    const Fetched fetched = FetchAll("request");
    EXPECT_EQ(fetched.parts, GetParam().parts);
    EXPECT_TRUE(fetched.joined == delegate.result);
    EXPECT_EQ(delegate.processCalls, 1);
    EXPECT_FALSE(connector.IsResultPending());
    EXPECT_EQ(delegate.live, 0);
    EXPECT_EQ(Send("\"next\""), "\"err0\"");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ConnectorPartTest,
    ::testing::Values(PartCase{"ZeroBytesAreOneEmptyLastPart", 0, {0}},
                      PartCase{"OneByte", 1, {1}},
                      PartCase{"LargestPartIsStillTheLast", kLargestPart, {kLargestPart}},
                      PartCase{"OneMoreByteMakesTwoParts", kLargestPart + 1, {kLargestPart, 1}},
                      PartCase{"TwoMillionBytes", 2000000, {kLargestPart, kLargestPart, 427154}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectorPartSize, LargestPartFramedFitsTheBuffer)
{
    EXPECT_EQ(JSWEConnector::MaxPartSize(kBufferSize), kLargestPart);
    EXPECT_EQ(4 * kLargestPart / 3 + 6, 1048570u);
    EXPECT_EQ(JSWEConnector::MaxPartSize(14), 3u);
    EXPECT_EQ(JSWEConnector::MaxPartSize(13), 0u);
    EXPECT_EQ(JSWEConnector::MaxPartSize(0), 0u);
}

TEST(ConnectorMessageType, OnlyTheExactSixByteWordsAreControls)
{
    const struct {
        std::string text;
        int kind;
    } cases[] = {
        {"\"rset\"", JSWEConnector::kReset},
        {"\"next\"", JSWEConnector::kNext},
        {"\"info\"", JSWEConnector::kInformation},
        {"\"info", JSWEConnector::kData},
        {"\"info\" ", JSWEConnector::kData},
        {"info", JSWEConnector::kData},
        {"\"INFO\"", JSWEConnector::kData},
        {"", JSWEConnector::kData},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JSWEConnector::GetMessageType(
                      reinterpret_cast<const unsigned char*>(c.text.data()), c.text.size()),
                  c.kind)
            << c.text;
}

TEST_F(ConnectorTest, InfoAnswersTheVersionAndReachesNoService)
{
    EXPECT_EQ(Send("\"info\""), "{\"version\": \"1.3.1.3\"}");
    EXPECT_EQ(Send("\"info\"").size(), 22u);
    EXPECT_EQ(delegate.processCalls, 0);
    // Near-misses of the word are requests for the service.
    delegate.result = "x";
    EXPECT_EQ(Send("\"info"), "\"last" + std::string("eA==") + "\"");
    EXPECT_EQ(delegate.processCalls, 1);
}

TEST_F(ConnectorTest, ControlWordsOutOfPlaceAnswerErr0)
{
    EXPECT_EQ(Send("\"next\""), "\"err0\"");
    EXPECT_EQ(Send("\"rset\""), "\"err0\"");
    EXPECT_EQ(delegate.processCalls, 0);
}

TEST_F(ConnectorTest, InfoAndDataWhilePendingLeaveTheResultInPlace)
{
    delegate.result = PatternBytes(kLargestPart + 10);
    const std::string first = Send("request");
    ASSERT_EQ(first.compare(0, 5, "\"part"), 0);

    EXPECT_EQ(Send("\"info\""), "{\"version\": \"1.3.1.3\"}");
    EXPECT_EQ(Send("another request"), "\"err0\"");
    EXPECT_EQ(delegate.processCalls, 1);
    ASSERT_TRUE(connector.IsResultPending());

    std::string bytes;
    const std::string last = Send("\"next\"");
    ASSERT_EQ(last.compare(0, 5, "\"last"), 0);
    ASSERT_TRUE(DecodeBase64(last.substr(5, last.size() - 6), bytes));
    EXPECT_TRUE(bytes == delegate.result.substr(kLargestPart));
    EXPECT_EQ(delegate.live, 0);
}

TEST_F(ConnectorTest, ResetAbandonsAPendingResult)
{
    delegate.result = PatternBytes(2000000);
    ASSERT_EQ(Send("request").compare(0, 5, "\"part"), 0);
    EXPECT_EQ(delegate.live, 1);

    EXPECT_EQ(Send("\"rset\""), "\"err0\"");
    EXPECT_FALSE(connector.IsResultPending());
    EXPECT_EQ(delegate.live, 0);
    EXPECT_EQ(Send("\"next\""), "\"err0\"");
    // A new request is served again.
    delegate.result = "abc";
    EXPECT_EQ(Send("request"), "\"lastYWJj\"");
}

struct FailureCase {
    const char* name;
    void (*arrange)(FakeDelegate&);
    std::vector<std::string> expectedReplies; // for "request", then "next" while any remain
};

class ConnectorFailureTest : public ConnectorTest,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ConnectorFailureTest, FailureAnswersErr1AndLeavesNothingPending)
{
    delegate.result = PatternBytes(kLargestPart + 3);
    GetParam().arrange(delegate);
    std::vector<std::string> replies{Send("request")};
    while (replies.back().compare(0, 5, "\"part") == 0)
        replies.push_back(Send("\"next\""));
    for (auto& reply : replies)
        if (reply.compare(0, 5, "\"part") == 0)
            reply = "part";
    EXPECT_EQ(replies, GetParam().expectedReplies);
    EXPECT_FALSE(connector.IsResultPending());
    EXPECT_EQ(delegate.live, 0);
    EXPECT_EQ(Send("\"next\""), "\"err0\"");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ConnectorFailureTest,
    ::testing::Values(
        FailureCase{"ProcessFails", [](FakeDelegate& d) { d.processFails = true; }, {"\"err1\""}},
        FailureCase{"ProcessGivesNoBytesForALength", [](FakeDelegate& d) { d.nullResult = true; },
                    {"\"err1\""}},
        FailureCase{"FirstPartEncodingFails", [](FakeDelegate& d) { d.failEncodeAt = 1; },
                    {"\"err1\""}},
        FailureCase{"SecondPartEncodingFails", [](FakeDelegate& d) { d.failEncodeAt = 2; },
                    {"part", "\"err1\""}},
        FailureCase{"EncodedTextTooLongForTheBuffer", [](FakeDelegate& d) { d.oversizeText = true; },
                    {"\"err1\""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectorLifecycle, BufferTooSmallForOnePartIsRefused)
{
    for (unsigned long size : {0ul, 9ul, 13ul}) {
        FakeDelegate delegate;
        delegate.bufferSize = size;
        JSWEConnector connector;
        EXPECT_EQ(connector.Initialize(&delegate), 0) << size;
        const unsigned char* reply = nullptr;
        unsigned long length = 1;
        EXPECT_EQ(connector.HandleMessage(reinterpret_cast<const unsigned char*>("x"), 1, &reply,
                                          &length),
                  0);
        EXPECT_EQ(length, 0u);
    }
}

TEST(ConnectorLifecycle, SmallestBufferCarriesThreeBytesAPart)
{
    FakeDelegate delegate;
    delegate.bufferSize = 14;
    delegate.result = "abcdefg";
    JSWEConnector connector;
    ASSERT_EQ(connector.Initialize(&delegate), 1);
    std::vector<std::string> replies;
    const unsigned char* reply = nullptr;
    unsigned long length = 0;
    std::string request = "request";
    do {
        connector.HandleMessage(reinterpret_cast<const unsigned char*>(request.data()),
                                request.size(), &reply, &length);
        replies.emplace_back(reinterpret_cast<const char*>(reply), length);
        request = "\"next\"";
    } while (replies.back().compare(0, 5, "\"part") == 0);
    EXPECT_EQ(replies, (std::vector<std::string>{"\"partYWJj\"", "\"partZGVm\"", "\"lastZw==\""}));
}

TEST(ConnectorLifecycle, FinalizeAndResetHandAPendingResultBack)
{
    FakeDelegate delegate;
    delegate.result = PatternBytes(kLargestPart * 2);
    const unsigned char* reply = nullptr;
    unsigned long length = 0;
    {
        JSWEConnector connector;
        ASSERT_EQ(connector.Initialize(&delegate), 1);
        connector.HandleMessage(reinterpret_cast<const unsigned char*>("r"), 1, &reply, &length);
        ASSERT_TRUE(connector.IsResultPending());
        connector.Reset();
        EXPECT_FALSE(connector.IsResultPending());
        EXPECT_EQ(delegate.live, 0);

        connector.HandleMessage(reinterpret_cast<const unsigned char*>("r"), 1, &reply, &length);
        ASSERT_EQ(delegate.live, 1);
        // A second Initialize starts over.
        ASSERT_EQ(connector.Initialize(&delegate), 1);
        EXPECT_EQ(delegate.live, 0);
        connector.HandleMessage(reinterpret_cast<const unsigned char*>("r"), 1, &reply, &length);
        ASSERT_EQ(delegate.live, 1);
    }
    EXPECT_EQ(delegate.live, 0);
}

} // namespace
