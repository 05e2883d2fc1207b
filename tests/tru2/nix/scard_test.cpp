#include "tru2/nix/scard.h"

#include "tru2/buffer.h"
#include "tru2/exception.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<unsigned char> Nc(size_t iNc)
{
    unsigned char out[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const size_t n = nix::SCard::EncodeAPDUNc(out, iNc);
    EXPECT_EQ(out[n], 0xEE) << "wrote past the returned count";
    return std::vector<unsigned char>(out, out + n);
}

std::vector<unsigned char> Ne(size_t iNe, size_t dataLength)
{
    unsigned char out[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const size_t n = nix::SCard::EncodeAPDUNe(out, iNe, dataLength);
    EXPECT_EQ(out[n], 0xEE) << "wrote past the returned count";
    return std::vector<unsigned char>(out, out + n);
}

using Bytes = std::vector<unsigned char>;

TEST(ApduLengthTest, LcTakesOneByteOrExtendedLowByteFirst)
{
    struct Case { size_t nc; Bytes expected; } cases[] = {
        {0, {}},
        {1, {0x01}},
        {255, {0xFF}},
        {256, {0x00, 0x00, 0x01}},
        {300, {0x00, 0x2C, 0x01}},
        {65534, {0x00, 0xFE, 0xFF}},
        {65535, {}},
        {100000, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Nc(c.nc), c.expected) << "Nc " << c.nc;
}

TEST(ApduLengthTest, LeExtendedFormCarriesLeadingZeroOnlyWithCommandData)
{
    struct Case { size_t ne; size_t data; Bytes expected; } cases[] = {
        {0, 4, {}},
        {1, 0, {0x01}},
        {255, 4, {0xFF}},
        {256, 0, {0x00}},
        {256, 4, {0x00}},
        {257, 0, {0x01, 0x01}},
        {1302, 0, {0x16, 0x05}},
        {1302, 4, {0x00, 0x16, 0x05}},
        {65535, 1, {0x00, 0xFF, 0xFF}},
        {65536, 0, {0x00, 0x00}},
        {65536, 4, {0x00, 0x00, 0x00}},
        {65537, 4, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ne(c.ne, c.data), c.expected) << "Ne " << c.ne << " data " << c.data;
}

TEST(SCardTest, ControlStructureFollowsActiveProtocol)
{
    struct Case { unsigned long protocol; const SCARD_IO_REQUEST* expected; } cases[] = {
        {0, SCARD_PCI_RAW}, {1, SCARD_PCI_T0}, {2, SCARD_PCI_T1}, {4, nullptr}, {3, nullptr},
    };
    for (const auto& c : cases) {
        nix::SCard card(0, c.protocol, false);
        EXPECT_EQ(card.GetIORequestPtr(), c.expected) << "protocol " << c.protocol;
    }
}

TEST(SCardTest, ReaderNamesFromMultiStringWithFilter)
{
    const char names[] = "Virtual PCD 00 00\0Virtual PCD 00 01\0Other\0\0Hidden\0";
    const size_t length = sizeof names;
    struct Case { const char* filter; std::vector<std::string> kept; } cases[] = {
        {nullptr, {"Virtual PCD 00 00", "Virtual PCD 00 01", "Other"}},
        {"Virtual PCD 00 01", {"Virtual PCD 00 01"}},
        {"Virtual", {"Virtual PCD 00 00", "Virtual PCD 00 01"}},
        {"Oth", {"Other"}},
        {"Other reader", {"Other"}},  // a shorter name equal to the filter's beginning passes
        {"", {"Virtual PCD 00 00", "Virtual PCD 00 01", "Other"}},
        {"X", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out;
        nix::SCardContext::SplitReaderNames(names, length, c.filter, out);
        EXPECT_EQ(out, c.kept) << (c.filter ? c.filter : "(null)");
    }
    // A last name cut off by the reported length ends there.
    std::vector<std::string> out;
    nix::SCardContext::SplitReaderNames("AB\0CDEF", 6, nullptr, out);
    EXPECT_EQ(out, (std::vector<std::string>{"AB", "CDE"}));
}

// Without a daemon: point the PC/SC client at a socket nobody listens on. The client caches
// the socket name on its first call, so this must run before any other PC/SC call here.
class NoDaemonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/zr-no-pcscd.comm", 1); }
};

TEST_F(NoDaemonTest, EstablishFailsWithNoServiceAndLeavesOutUntouched)
{
    nix::SCardContext* sentinel = new nix::SCardContext(0x1234, false);
    std::unique_ptr<nix::SCardContext> out(sentinel);
    EXPECT_EQ(nix::SCardContext::Establish(out, SCARD_SCOPE_USER), static_cast<tru::TResult>(SCARD_E_NO_SERVICE));
    EXPECT_EQ(out.get(), sentinel);

    EXPECT_EQ(nix::SCardContext::CreateGlobalInstance(SCARD_SCOPE_USER), static_cast<tru::TResult>(SCARD_E_NO_SERVICE));
    EXPECT_EQ(nix::SCardContext::GetGlobalInstancePtr(), nullptr);
    try {
        nix::SCardContext::GetGlobalInstance();
        ADD_FAILURE() << "no exception";
    } catch (const tru::Exception& e) {
        EXPECT_EQ(e.GetCode(), static_cast<tru::TResult>(SCARD_E_NO_SERVICE));
    }
    EXPECT_EQ(nix::SCardContext::GetGlobalInstancePtr(), nullptr);
    EXPECT_EQ(nix::SCardContext::DestroyGlobalInstance(), 0u);
}

TEST_F(NoDaemonTest, CallsOnUnknownHandlesReturnPcscCodeAndKeepOutValues)
{
    // Protocol 4 has no control structure: PC/SC itself refuses the null one.
    nix::SCard card(0x7777, 4, false);
    unsigned char send[] = {0x00, 0xA4, 0x00, 0x00};
    unsigned char receive[16];
    unsigned receiveLength = sizeof receive;
    EXPECT_EQ(card.Transmit(sizeof send, send, receiveLength, receive), static_cast<tru::TResult>(SCARD_E_INVALID_PARAMETER));
    EXPECT_EQ(receiveLength, sizeof receive);
    nix::SCard t1(0x7777, 2, false);
    EXPECT_EQ(t1.Transmit(sizeof send, send, receiveLength, receive), static_cast<tru::TResult>(SCARD_E_INVALID_HANDLE));
    EXPECT_EQ(receiveLength, sizeof receive);
    tru::BufferDynamic answer(16);
    EXPECT_EQ(t1.Transmit(tru::Buffer(send, sizeof send), answer), static_cast<tru::TResult>(SCARD_E_INVALID_HANDLE));
    EXPECT_EQ(answer.Size(), 16u);

    char name[256];
    unsigned nameLength = sizeof name, atrLength = 32;
    unsigned long state = 99, protocol = 99;
    unsigned char atr[32];
    EXPECT_NE(card.GetStatus(name, nameLength, state, protocol, atr, atrLength), 0u);
    EXPECT_EQ(nameLength, sizeof name);
    EXPECT_EQ(atrLength, 32u);
    EXPECT_EQ(state, 99u);
    EXPECT_EQ(protocol, 99u);

    nix::SCardContext context(0x5555, false);
    std::vector<std::string> readers{"stale"};
    EXPECT_NE(context.ListReaders(readers, nullptr, nullptr), 0u);
    EXPECT_TRUE(readers.empty());

    std::unique_ptr<nix::SCard> out;
    unsigned long active = 42;
    EXPECT_NE(context.Connect(out, "Reader 0", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &active), 0u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(active, 42u);

    EXPECT_NE(context.Reconnect(card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &active), 0u);
    EXPECT_EQ(card.GetProtocol(), 4u);
    EXPECT_EQ(active, 42u);
}

}  // namespace
