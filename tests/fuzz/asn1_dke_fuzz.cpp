// Decodes arbitrary bytes as Dke (accepted values must survive a DER round trip) and resolves
// them as a key's S-box value, up to the expanded table.
#include "../asn1/asn1_round_trip.h"
#include "national/ck_error.h"
#include "national/ua_gost_utl.h"
#include "tru2/exception.h"
#include "zrasn1/Dke.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    asn1_test::DecodeAndRoundTrip(asn_DEF_Dke, data, size);
    const qel::UAGostUtl& util = *qel::UAGostUtl::GetInstance();
    tru::BufferDynamic dke;
    try {
        if (util.ExtractSBox(tru::Buffer(data, uint32_t(size)), dke, CKR_ATTRIBUTE_VALUE_INVALID)) {
            tru::BufferDynamic kext;
            util.PrepareKExt(dke, kext);
        }
    } catch (const qel::CkError&) {
    } catch (const tru::Exception&) {
    }
    return 0;
}
