// The unit tests need no PC/SC service: point the PC/SC client at a socket nobody listens on
// before anything in this binary reaches PC/SC (the client reads the name on its first call).
#include <cstdlib>

namespace {

const int kNoPcscd = setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/zr-device-no-pcscd.comm", 1);

}  // namespace
