// Hands the token's user random generator to code that needs random bytes.
#ifndef ZR_OBJECTS_TOK_RANDOM_GENERATOR_H
#define ZR_OBJECTS_TOK_RANDOM_GENERATOR_H

#include "cryptoki/framework_types.h"
#include "tru2/buffer.h"

namespace zrck {

class TokRandomGenerator {
public:
    explicit TokRandomGenerator(Token* token) : mpToken(token) {}
    virtual ~TokRandomGenerator() = default;

    // Fills the whole buffer from the token; returns 0 (failures are thrown by the token).
    virtual int GetNext(tru::Buffer& output);

private:
    Token* mpToken;
};

}  // namespace zrck

#endif  // ZR_OBJECTS_TOK_RANDOM_GENERATOR_H
