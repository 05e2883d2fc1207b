#include "objects/tok_random_generator.h"

#include "cryptoki/exception.h"
#include "cryptoki/token.h"

namespace zrck {

int TokRandomGenerator::GetNext(tru::Buffer& output) {
    if (mpToken == nullptr) throw Exception(CKR_DEVICE_REMOVED);
    mpToken->GenerateUserRandom(output);
    return 0;
}

}  // namespace zrck
