#include "driver/qel_token_tables.h"

#include "driver/tok_data_object.h"
#include "driver/tok_x509_certificate.h"

namespace qel {

namespace {
template <class ObjectClass>
zrck::TokObject* MakeStored() {
    return new ObjectClass();
}
}  // namespace

// Rows in the order the table is built: RSA (NotModel), ECDSA on the device (NotModel), SHA
// digests (NotModel), GOST 34.311 and DSTU 4145 (Always), GOST 28147-89 and DSTU key
// agreement (DH), password-based Triple-DES and Triple-DES CBC (Always). CKM_DSTUDH_DERIVE is
// never offered.
const std::vector<MechanismRow>& MechanismRows() {
    static const std::vector<MechanismRow> rows = {};
    return rows;
}

const std::vector<StoredClassRow>& StoredClassRows() {
    static const std::vector<StoredClassRow> rows = {
        {CERTIFICATE, &MakeStored<TokX509Certificate>},
        {DATA, &MakeStored<TokData>},
    };
    return rows;
}

// DSTU 4145 curves ("1.2.804.2.1.1.1.1.3.1.1.2.0", .4 NotModel, .6 Always, .9 DSTU431) and the
// ten GOST 28147-89 S-boxes ("1.2.804.2.1.1.1.1.1.1.10.1" to ".10", DH).
const std::vector<FixedDomainParamsRow>& FixedDomainParamsRows() {
    static const std::vector<FixedDomainParamsRow> rows = {};
    return rows;
}

}  // namespace qel
