#include "national/kext_cache.h"

#include "national/dke_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

using qel::KExtCache;

std::vector<uint8_t> CustomDke(uint8_t seed)
{
    std::vector<uint8_t> dke(64);
    for (size_t i = 0; i < dke.size(); ++i) dke[i] = uint8_t(seed * 31 + i * 17);
    return dke;
}

class KExtCacheTest : public ::testing::Test {
protected:
    void SetUp() override { KExtCache::Instance().Clear(); }
    void TearDown() override { KExtCache::Instance().Clear(); }
};

TEST_F(KExtCacheTest, ExpandsEachDkeOnce)
{
    KExtCache& cache = KExtCache::Instance();
    const uint8_t* dke1 = qel::DkeBytes(qel::glbDkeTables[0]);
    const auto a = cache.Get(dke1);
    const auto b = cache.Get(dke1);
    EXPECT_EQ(a, b);
    EXPECT_NE(cache.Get(qel::DkeBytes(qel::glbDkeTables[1])), a);
    EXPECT_EQ(cache.Size(), 2u);

    uint8_t sblock[qel::kSBlockSize];
    uint32_t expected[G28147_KEXT_WORDS];
    qel::DkeToSBlock(dke1, sblock);
    g28147_make_kext(expected, sblock);
    EXPECT_EQ(std::memcmp(a->Words(), expected, sizeof(expected)), 0);
}

TEST_F(KExtCacheTest, EvictsTheLeastRecentlyUsedButHoldersKeepTheirTable)
{
    KExtCache& cache = KExtCache::Instance();
    const auto first = cache.Get(CustomDke(0).data());
    const auto kept = cache.Get(CustomDke(1).data());
    for (uint8_t i = 2; i < KExtCache::kCapacity + 1; ++i) cache.Get(CustomDke(i).data());
    cache.Get(CustomDke(1).data());  // recently used again
    cache.Get(CustomDke(200).data());
    EXPECT_EQ(cache.Size(), KExtCache::kCapacity);
    EXPECT_EQ(cache.Get(CustomDke(1).data()), kept);
    const auto again = cache.Get(CustomDke(0).data());
    EXPECT_NE(again, first) << "the oldest entry was evicted and expanded anew";
    EXPECT_TRUE(first->IsFor(CustomDke(0).data()));
    EXPECT_EQ(std::memcmp(first->Words(), again->Words(), G28147_KEXT_WORDS * 4), 0);
}

TEST_F(KExtCacheTest, ConcurrentUsersShareOneTablePerDke)
{
    std::vector<std::shared_ptr<const qel::KExtTable>> seen(8 * 50);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < 50; ++i)
                seen[t * 50 + i] = KExtCache::Instance().Get(qel::DkeBytes(qel::glbDkeTables[i % 3]));
        });
    }
    for (auto& thread : threads) thread.join();
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i % 50 % 3]) << i;
}

} // namespace
