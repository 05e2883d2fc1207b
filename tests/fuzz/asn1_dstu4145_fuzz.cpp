// Decodes arbitrary bytes as DSTU4145Params; accepted values must survive a DER round trip.
#include "../asn1/asn1_round_trip.h"
#include "zrasn1/DSTU4145Params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    asn1_test::DecodeAndRoundTrip(asn_DEF_DSTU4145Params, data, size);
    return 0;
}
