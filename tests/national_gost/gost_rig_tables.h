// The GOST rows in the token tables of the test process, registered once as the token library
// registers them.
#pragma once

#include "driver/qel_token_tables.h"
#include "national/ua_gost_token_rows.h"

namespace gost_test {

inline bool EnsureGostTablesRegistered()
{
    static const bool registered = qel::RegisterTokenTables(qel::UAGostTokenTables());
    return registered;
}

}  // namespace gost_test
