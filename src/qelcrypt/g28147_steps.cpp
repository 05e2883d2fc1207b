#include "qelcrypt/g28147_core.h"

void g28147_32Steps(uint32_t n1, uint32_t n2, const uint32_t* k, const uint32_t* KExt,
                    uint32_t* out1, uint32_t* out2)
{
    g28147_core32(n1, n2, k, KExt);
    *out1 = n1;
    *out2 = n2;
}

void g28147_16Steps(uint32_t n1, uint32_t n2, const uint32_t* k, const uint32_t* KExt,
                    uint32_t* out1, uint32_t* out2)
{
    g28147_core16(n1, n2, k, KExt);
    *out1 = n1;
    *out2 = n2;
}
