// Stock PKCS#11 clients against the token library: each step a process of its own inside the
// test's rig.
#include "ecdsa_fixture.h"

namespace {
}
