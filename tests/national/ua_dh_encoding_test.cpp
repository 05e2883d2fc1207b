#include "national/tok_ua_dh_derive.h"

#include "national/dke_tables.h"
#include "dstu_test_util.h"

#include <gtest/gtest.h>

using namespace dstutest;

TEST(UADHEncoding, SharedInfoWithAndWithoutSharedData)
{
    EXPECT_EQ(qel::UADHSharedInfo(tru::Buffer()),
              Hex("3019300F060B2A86240201010101010105" "0500A206040400000100"));
    const Bytes shared(64, 0x5A);
    const Bytes expected = Cat({Hex("305D300F060B2A86240201010101010105" "0500A0420440"), shared, Hex("A206040400000100")});
    EXPECT_EQ(qel::UADHSharedInfo(tru::Buffer(shared.data(), 64)), expected);
    EXPECT_EQ(expected.size(), 95u);
}

TEST(UADHEncoding, SBoxValueIsTheDerDke)
{
    const tru::Buffer dke(qel::glbDKE1 + 2, 64);
    EXPECT_EQ(qel::UADHSBoxValue(dke), Of(tru::Buffer(qel::glbDKE1, qel::kDkeDerSize)));
}

TEST(UADHEncoding, SharedDataIsEmptyOr64Bytes)
{
    qel::UADHDerivation derivation;
    const Bytes data(65, 1);
    for (uint32_t size : {0u, 64u}) {
        EXPECT_EQ(CodeOf([&] { derivation.SetSharedData(tru::Buffer(data.data(), size)); }), CKR_OK);
        EXPECT_EQ(derivation.GetSharedData().Size(), size);
    }
    for (uint32_t size : {1u, 32u, 63u, 65u}) {
        EXPECT_EQ(CodeOf([&] { derivation.SetSharedData(tru::Buffer(data.data(), size)); }),
                  CKR_MECHANISM_PARAM_INVALID);
    }
}
