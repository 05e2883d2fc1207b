#include "object_fixture.h"
