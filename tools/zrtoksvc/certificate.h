// The few fields the utility reads from an X.509 certificate in DER.
#pragma once

#include "tru2/buffer.h"

namespace zrsvc {

// The subject Name of the certificate, as stored (tag and length included); false when the
// bytes are not one whole DER certificate up to its subject.
bool CertificateSubject(const tru::Buffer& der, tru::BufferDynamic& subject);

}  // namespace zrsvc
