// Several threads open, use and close sessions while another pulls and reinserts the token.
// Run under ASan this shows no session or token is used after it is gone.
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "module_fixture.h"

namespace {

using ConcurrencyTest = ModuleTest;

TEST_F(ConcurrencyTest, SessionsSurviveTheTokenBeingPulled) {
    Initialize(CKF_OS_LOCKING_OK);
    const std::set<CK_RV> allowed = {CKR_OK,
                                     CKR_DEVICE_REMOVED,
                                     CKR_TOKEN_NOT_PRESENT,
                                     CKR_SESSION_HANDLE_INVALID,
                                     CKR_SESSION_CLOSED,
                                     CKR_USER_ALREADY_LOGGED_IN,
                                     CKR_USER_NOT_LOGGED_IN};
    std::mutex unexpectedMutex;
    std::vector<std::pair<const char*, CK_RV>> unexpected;
    auto check = [&](const char* call, CK_RV rv) {
        if (allowed.count(rv) == 0) {
            std::lock_guard<std::mutex> lock(unexpectedMutex);
            unexpected.emplace_back(call, rv);
        }
        return rv;
    };
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0};

    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                CK_SESSION_HANDLE session = 0;
                const CK_FLAGS flags = CKF_SERIAL_SESSION | (t % 2 == 0 ? CKF_RW_SESSION : 0);
                if (check("C_OpenSession", p11->C_OpenSession(0, flags, nullptr, nullptr, &session)) != CKR_OK) continue;
                ++opened;
                CK_SESSION_INFO info;
                check("C_GetSessionInfo", p11->C_GetSessionInfo(session, &info));
                CK_BYTE random[8];
                check("C_GenerateRandom", p11->C_GenerateRandom(session, random, sizeof random));
                if (i % 10 == 0) {
                    check("C_Login", Login(session, CKU_USER, ZR_FAKE_USER_PIN));
                    check("C_Logout", p11->C_Logout(session));
                }
                check("C_CloseSession", p11->C_CloseSession(session));
            }
        });
    }
    std::thread remover([&] {
        CK_TOKEN_INFO info;
        while (!stop.load()) {
            module.removeToken(0);
            check("C_GetTokenInfo", p11->C_GetTokenInfo(0, &info));
            std::this_thread::yield();
            module.insertToken(0);
            check("C_GetTokenInfo", p11->C_GetTokenInfo(0, &info));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (auto& worker : workers) worker.join();
    stop = true;
    remover.join();

    for (const auto& failure : unexpected) ADD_FAILURE() << failure.first << " answered 0x" << std::hex << failure.second;
    EXPECT_GT(opened.load(), 0);
    module.insertToken(0);
    // Every session is gone, and the token counts none.
    EXPECT_EQ(0u, TokenInfo(0).ulSessionCount);
    EXPECT_EQ(CKR_OK, p11->C_Finalize(nullptr));
}

}  // namespace
