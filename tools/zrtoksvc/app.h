#pragma once

namespace zrsvc {
// One run of the utility: the process's exit status.
int RunZrTokSvc(int argc, char** argv);
}
