#include "driver/qel_object_class_factory.h"

#include "driver/qel_token.h"
#include "driver/qel_token_tables.h"
#include "driver/tok_data_object.h"
#include "driver/tok_x509_certificate.h"

namespace qel {

// The key and domain-parameter classes of the algorithm layers follow through their
// registered tables (RegisterTokenTables).
void ObjectClassFactory::Create() { std::call_once(created_, [this] { RegisterAll(); }); }

void ObjectClassFactory::RegisterAll() {
    RegisterCreationClass<TokData>(token_, CKO_DATA, 0);
    RegisterCreationClass<TokX509Certificate>(token_, CKO_CERTIFICATE, CKC_X_509);
    for (const TokenTables& tables : RegisteredTokenTables()) {
        if (tables.registerClasses != nullptr) tables.registerClasses(token_);
    }
}

}  // namespace qel
