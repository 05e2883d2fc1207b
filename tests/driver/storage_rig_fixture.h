// A token storage over the simulated token, through the real pcscd.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "ckbase/exception.h"
#include "driver/cache_clock.h"
#include "driver/token_storage.h"
#include "rig_gtest.h"
#include "support/mutex.h"

namespace drivertest {

constexpr const char* kSoPin = "87654321";
constexpr const char* kUserPin = "12345678";
constexpr const char* kSerial = "ZRDRV0001";

inline tru::Buffer Text(const char* text)
{
    return tru::Buffer(text, static_cast<uint32_t>(std::strlen(text)));
}

// Expects the statement to throw zrck::Exception with the given CK_RV.
#define EXPECT_CKR(statement, rv)                                                    \
    do {                                                                             \
        try {                                                                        \
            statement;                                                               \
            ADD_FAILURE() << #statement " did not throw";                            \
        } catch (const zrck::Exception& e) {                                         \
            EXPECT_EQ(e.GetCode(), static_cast<CK_RV>(rv)) << #statement;            \
        }                                                                            \
    } while (0)

class FakeHost : public qel::TokenStorageHost {
public:
    int GetBrand() const override { return brand; }
    void GetExternalRandom(tru::Buffer& out) override
    {
        ++randomRequests;
        std::memset(out.Data(), 0x5A, out.Size());
    }
    void OnTokenConnected() override
    {
        ++connected;
        if (onConnected) {
            onConnected();
        }
    }
    void OnSlotEvent() override { ++slotEvents; }

    int brand = 0;
    std::atomic<int> randomRequests{0};
    std::atomic<int> connected{0};
    std::atomic<int> slotEvents{0};
    std::function<void()> onConnected;  // runs inside the notification
};

class StorageRigTest : public ::testing::Test {
protected:
    // Options of the simulated token; tests may change them before SetUp through the constructor.
    std::vector<std::string> simulatorOptions{"--serial", kSerial, "--so-pin", kSoPin, "--user-pin", kUserPin};

    void SetUp() override
    {
        ZR_REQUIRE_RIG();
        vdk::MutexFactory::Instance().SetFlags(vdk::MutexFactory::FLAG_RECURSIVE);
        vdk::MutexLinuxFactory::RegisterFactory();
        tokensim::rig::RigOptions options;
        options.simulators = {simulatorOptions};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        readerIndex = FindReaderIndex();
        storage = NewStorage();
    }

    void TearDown() override
    {
        storage.reset();
        rig.reset();
        qel::CacheClock::Thaw();  // a count test stopped it
    }

    unsigned FindReaderIndex()
    {
        ZrPlinqToken probe;
        uint32_t count = 0;
        EXPECT_EQ(probe.GetAmount(&count), 0u);
        for (uint32_t i = 0; i < count; ++i) {
            std::string name;
            if (probe.GetReaderName(i, name) == 0 && name == rig->ReaderName(0)) {
                return i;
            }
        }
        ADD_FAILURE() << "reader of the simulated card not listed";
        return 0;
    }

    // A storage set up as the token sets it up: InitData, then the presence check that connects.
    std::unique_ptr<qel::TokenStorage> NewStorage(FakeHost* withHost = nullptr)
    {
        auto s = std::make_unique<qel::TokenStorage>(withHost ? *withHost : host, readerIndex);
        s->InitData();
        EXPECT_EQ(s->VerifyTokenPresence(), CKR_OK);
        return s;
    }

    const tokensim::rig::ControlClient& Sim() const { return rig->Control(0); }
    uint64_t Count(const std::string& command) const { return Sim().Count(command); }

    // Raw bytes of a token file through a connection of its own (hex, upper case).
    std::string RawFile(long fileId)
    {
        auto reader = NewStorage(&otherHost);
        tru::BufferDynamic contents;
        reader->LoginUserM(Text(kUserPin));  // private files need the user
        qel::TokenStorage::BusyGuard guard(*reader, "test");
        reader->OpenDevSessionInt();
        reader->ReadFileD(fileId, contents);
        reader->ClearDevSessionInt();
        return contents.ToHex();
    }

    FakeHost host;
    FakeHost otherHost;
    std::unique_ptr<tokensim::rig::Rig> rig;
    unsigned readerIndex = 0;
    std::unique_ptr<qel::TokenStorage> storage;
};

}  // namespace drivertest
