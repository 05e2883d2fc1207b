// The token library in this process, through the real pcscd and the simulated token; the DSTU
// 4145 rows are in the token's tables.
#pragma once

#include <gtest/gtest.h>

#include "cryptoki/library_frame.h"
#include "cryptoki/session_frame.h"
#include "cryptoki/slot.h"
#include "ckbase/zr_pkcs11.h"
#include "driver/qel_library.h"
#include "driver/qel_token.h"
#include "national/ua_sgn_token_rows.h"
#include "objects/tok_domain_params.h"
#include "rig_gtest.h"

#include <memory>
#include <string>
#include <vector>

namespace dstutest {

constexpr const char* kSoPin = "87654321";
constexpr const char* kUserPin = "12345678";

// A session over the driver token, as the framework hands one to a mechanism.
class TestSession : public zrck::SessionFrame {
public:
    explicit TestSession(std::shared_ptr<qel::Token> owner) : token_(std::move(owner)) {}
    zrck::Token* GetOwnerToken() override { return token_.get(); }
    zrck::TokenPtr LockToken() const override { return token_; }
    bool CouldSeePrivateObjects() const override { return true; }
    void Close() override {}
    void FillSessionInfo(CK_SESSION_INFO_PTR) override {}
    CK_STATE GetState() override { return CKS_RW_USER_FUNCTIONS; }
    void SeedRandom(const tru::Buffer&) override {}
    void GenerateRandom(tru::Buffer&) override {}

private:
    std::shared_ptr<qel::Token> token_;
};

// The framework's C_ bodies for keys and signatures are not built yet: the DSTU 4145 classes are
// driven here as those bodies will drive them, on the token the library set up through pcscd.
class DstuRigTest : public ::testing::Test {
protected:
    std::vector<std::string> simulatorOptions{"--serial", "ZRDSTU0001", "--so-pin", kSoPin, "--user-pin", kUserPin};

    void SetUp() override
    {
        ZR_REQUIRE_RIG();
        tokensim::rig::RigOptions options;
        options.simulators = {simulatorOptions};
        rig = std::make_unique<tokensim::rig::Rig>(options);
        zrck::LibraryFrame::LibraryCreatorFuncPtr = &qel::Library::Create;
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_EQ(C_Initialize(&args), CKR_OK);
        initialized = true;
        CK_ULONG count = 8;
        CK_SLOT_ID slots[8];
        ASSERT_EQ(C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
        ASSERT_GE(count, 1u);
        slotId = slots[0];
        session = OpenSession();
        ASSERT_EQ(C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)kUserPin, 8), CKR_OK);
        zrck::SlotPtr slot = zrck::LibraryFrame::GetInstance()->GetSlotFactory()->GetSlotByID(slotId);
        token = std::dynamic_pointer_cast<qel::Token>(slot->GetToken());
        ASSERT_TRUE(token);
        ASSERT_TRUE(qel::UASgnTokenTablesRegistered());
        frame = std::make_unique<TestSession>(token);
        frame->SetReadOnly(false);
    }

    void TearDown() override
    {
        frame.reset();
        token.reset();
        if (initialized) C_Finalize(nullptr);
        rig.reset();
    }

    CK_SESSION_HANDLE OpenSession()
    {
        CK_SESSION_HANDLE handle = 0;
        EXPECT_EQ(C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &handle), CKR_OK);
        return handle;
    }

    const tokensim::rig::ControlClient& Sim() const { return rig->Control(0); }
    // Every command the token answered so far.
    uint64_t TotalCommands() const
    {
        uint64_t total = 0;
        for (const auto& entry : Sim().Counters()) {
            if (entry.first != "total") total += entry.second;
        }
        return total;
    }

    std::unique_ptr<tokensim::rig::Rig> rig;
    bool initialized = false;
    CK_SLOT_ID slotId = 0;
    CK_SESSION_HANDLE session = 0;
    std::shared_ptr<qel::Token> token;
    std::unique_ptr<TestSession> frame;
};

} // namespace dstutest
