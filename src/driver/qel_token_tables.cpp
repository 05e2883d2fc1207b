#include "driver/qel_token_tables.h"

#include "driver/qel_token.h"
#include "driver/tok_data_object.h"
#include "driver/tok_x509_certificate.h"

namespace qel {

namespace {

std::vector<TokenTables>& Registry() {
    static std::vector<TokenTables> registry;
    return registry;
}

std::vector<void (*)()>& Releases() {
    static std::vector<void (*)()> releases;
    return releases;
}

template <class Row>
std::vector<Row> WithRegistered(std::vector<Row> rows, const std::vector<Row>& (*TokenTables::*member)()) {
    for (const TokenTables& tables : Registry()) {
        if (tables.*member != nullptr) {
            const std::vector<Row>& more = (tables.*member)();
            rows.insert(rows.end(), more.begin(), more.end());
        }
    }
    return rows;
}

}  // namespace

bool RegisterTokenTables(const TokenTables& tables) {
    Registry().push_back(tables);
    return true;
}

const std::vector<TokenTables>& RegisteredTokenTables() { return Registry(); }

bool RegisterLayerRelease(void (*release)()) {
    Releases().push_back(release);
    return true;
}

void ReleaseLayers() {
    for (void (*release)() : Releases()) release();
}

// Rows in the order the table is built (the algorithm layers register theirs): RSA (NotModel), ECDSA on the device (NotModel), SHA
// digests (NotModel), GOST 34.311 and DSTU 4145 (Always), GOST 28147-89 and DSTU key
// agreement (DH), password-based Triple-DES and Triple-DES CBC (Always). CKM_DSTUDH_DERIVE is
// never offered.
std::vector<MechanismRow> MechanismRows() { return WithRegistered<MechanismRow>({}, &TokenTables::mechanisms); }

std::vector<StoredClassRow> StoredClassRows() {
    return WithRegistered<StoredClassRow>(
        {
            {CERTIFICATE, &MakeStored<TokX509Certificate>},
            {DATA, &MakeStored<TokData>},
        },
        &TokenTables::storedClasses);
}

// DSTU 4145 curves ("1.2.804.2.1.1.1.1.3.1.1.2.0", .4 NotModel, .6 Always, .9 DSTU431) and the
// ten GOST 28147-89 S-boxes ("1.2.804.2.1.1.1.1.1.1.10.1" to ".10", DH).
std::vector<FixedDomainParamsRow> FixedDomainParamsRows() {
    return WithRegistered<FixedDomainParamsRow>({}, &TokenTables::fixedDomainParams);
}

void RegisterCreationClass(Token* token, CK_OBJECT_CLASS objectClass, CK_ULONG subtype,
                           bool (*couldBeCreated)(const zrck::AttributeTemplate&), zrck::TokObject* (*generate)()) {
    zrck::ClassRegistrator(token, objectClass, subtype, couldBeCreated, generate);
}

}  // namespace qel
