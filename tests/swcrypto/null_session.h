// A session frame for driving host mechanisms directly: they take the session by reference but
// ask nothing of it.
#pragma once

#include "cryptoki/memory_token.h"

namespace swtest {

using NullSession = zrtest::MemorySession;

}  // namespace swtest
