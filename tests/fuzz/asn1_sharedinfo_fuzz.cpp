// Decodes arbitrary bytes as SharedInfo; accepted values must survive a DER round trip.
#include "../asn1/asn1_round_trip.h"
#include "zrasn1/SharedInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    asn1_test::DecodeAndRoundTrip(asn_DEF_SharedInfo, data, size);
    return 0;
}
