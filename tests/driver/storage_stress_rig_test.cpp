// Several threads on one storage while another logs out and in: no deadlock, no crash, and
// every failure is a CK_RV.
#include <thread>

#include "storage_rig_fixture.h"

using namespace drivertest;
using qel::TokenStorage;

namespace {

class StorageStressRig : public StorageRigTest {};

TEST_F(StorageStressRig, WorkersAndALoginCycleShareOneStorage)
{
    storage->LoginUserM(Text(kUserPin));
    long slot = 0, attr = 0;
    {
        TokenStorage::GlobalBusyGuard guard(*storage, "C_GenerateKeyPair");
        tru::BufferDynamic publicKey;
        storage->GenerateKeyPairM(DSTU4145_POLYNOMIAL_0, TokenObject, publicKey, slot, attr);
        storage->WriteDataFileM(3, Text("value"));
        storage->CheckAndUpdateRevision();
    }

    std::atomic<int> done{0};
    std::atomic<int> failures{0};
    std::atomic<int> foreignErrors{0};
    std::atomic<CK_RV> otherCode{CKR_OK};
    auto worker = [&](int kind) {
        const uint8_t hash[32] = {7};
        for (int i = 0; i < 60; ++i) {
            try {
                switch ((kind + i) % 4) {
                case 0: {
                    tru::BufferDynamic signature;
                    storage->GenerateSignatureM(slot, tru::Buffer(hash, 32), signature);
                    break;
                }
                case 1:
                    if (storage->ReadDataFileM(3)->ToString() != "value") {
                        ++foreignErrors;
                    }
                    break;
                case 2: {
                    std::vector<qel::storage::IndexFileRecord> list;
                    storage->ListObjectsM(qel::PrivateObject, 0, list);
                    break;
                }
                default:
                    storage->IsTokenPresentM();
                    storage->IsTokenDataChangedM();
                }
                ++done;
            } catch (const zrck::Exception& e) {
                if (e.GetCode() == CKR_USER_NOT_LOGGED_IN) {
                    ++failures;  // not logged in at that moment: expected now and then
                } else {
                    otherCode = e.GetCode();
                }
            } catch (...) {
                ++foreignErrors;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int k = 0; k < 3; ++k) {
        threads.emplace_back(worker, k);
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 30; ++i) {
            try {
                storage->LogoutUserM();
                storage->LoginUserM(Text(kUserPin));
                if (i % 10 == 0) {
                    storage->ResetDevice();
                }
            } catch (...) {
                ++foreignErrors;
            }
        }
    });
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(foreignErrors.load(), 0);
    EXPECT_EQ(otherCode.load(), CKR_OK) << "a failure other than not logged in";
    EXPECT_EQ(done.load() + failures.load(), 180);
    EXPECT_GT(done.load(), 0);
    EXPECT_FALSE(storage->IsBusy());
}

}  // namespace
