#pragma once

namespace zrsvc {
void PrintUsage();
}
