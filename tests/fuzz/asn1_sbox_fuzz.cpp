// Decodes arbitrary bytes as SBoxOID and SBoxValue (the checks of GOST domain parameters) and
// reads an accepted identifier as text.
#include "../asn1/asn1_round_trip.h"
#include "zrasn1/SBoxOID.h"
#include "zrasn1/SBoxValue.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    asn1_test::DecodeAndRoundTrip(asn_DEF_SBoxValue, data, size);
    if (asn1_test::DecodeAndRoundTrip(asn_DEF_SBoxOID, data, size)) {
        auto oid = qel::asn1::Decode<SBoxOID_t>(asn_DEF_SBoxOID, data, size);
        std::string text;
        qel::asn1::OidToText(*oid, text);
    }
    return 0;
}
