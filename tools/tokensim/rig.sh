#!/usr/bin/env bash
# Runs a command inside a private PC/SC rig: its own mount and network namespaces (unshare),
# a private tmpfs on /run/pcscd, loopback up, its own reader configuration, pcscd -f -c DIR,
# one token simulator per --sim, a wait until every card is seen; then the command; then it
# stops exactly the processes it started (by PID, SIGTERM, wait) and returns the command's
# exit status (125 when the rig itself could not be set up).
#
#   rig.sh [--sim "tokensim options"]... [--trace] [--pcscd-debug] [--timeout MS]
#          [--keep-logs DIR] -- COMMAND [ARGS...]
#
# The command sees TOKENSIM_RIG_DIR, TOKENSIM_CONTROL (first simulator's control socket),
# TOKENSIM_CONTROL_<i> and TOKENSIM_READER_<i>; `tokensim-ctl "$TOKENSIM_CONTROL" counters`
# talks to a simulator. The start and stop logic is the tokensim_rig library's (the same one
# the GoogleTest fixtures use), run by the tokensim-rig program this script finds and starts.
# Set TOKENSIM_BUILD_DIR when the build folder is not <repository>/build.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${TOKENSIM_BUILD_DIR:-$root/build}
runner=$build/tools/tokensim/rig/tokensim-rig
if [ ! -x "$runner" ]; then
  echo "rig.sh: $runner not found; build first (cmake --build $build) or set TOKENSIM_BUILD_DIR" >&2
  exit 125
fi
export TOKENSIM_BIN=${TOKENSIM_BIN:-$build/tools/tokensim/tokensim}
export PATH="$build/tools/tokensim/rig:$PATH"  # tokensim-ctl for the command
exec "$runner" "$@"
