#!/usr/bin/env bash
# Demo of the token library: starts the simulated token in a private PC/SC rig and runs a short
# session with OpenSC's pkcs11-tool against libzrcryptokiqel: library, token and mechanism
# information, login with random data from the token, a data object written and listed, then
# a document signed and verified with a DSTU 4145 key on the token through the Cryptoki functions,
# with the APDUs each call sent.
#
#   tools/tokensim/demo.sh [BUILD_DIR]     (default: <repository>/build)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
module="$build/src/library/libzrcryptokiqel.so"

if [ ! -f "$module" ]; then
  echo "demo: $module not found; build first" >&2
  exit 1
fi
if ! command -v pkcs11-tool > /dev/null; then
  echo "demo: pkcs11-tool (package opensc) is needed" >&2
  exit 1
fi

export TOKENSIM_BUILD_DIR="$build"
export DEMO_MODULE="$module"
export DEMO_SIGNER="$build/bench/main_road/main_road"
if [ ! -x "$DEMO_SIGNER" ]; then
  echo "demo: $DEMO_SIGNER not found; build the main_road target" >&2
  exit 1
fi
sim="--serial DEMO000000000001 --label demo-token --so-pin 87654321 --user-pin 12345678"

exec bash "$here/rig.sh" --sim "$sim" -- bash -c '
  set -u
  tool() {
    echo
    echo "\$ pkcs11-tool $*"
    pkcs11-tool --module "$DEMO_MODULE" "$@"
  }
  work=$(mktemp -d)
  trap "rm -rf \"$work\"" EXIT
  echo "Simulated token in reader \"$TOKENSIM_READER_0\"; user PIN 12345678, SO PIN 87654321."
  status=0
  tool -I || status=1
  tool -T || status=1
  tool -M || status=1
  tool --login --pin 12345678 --generate-random 16 --output-file "$work/random.bin" &&
    echo "16 random bytes from the token: $(od -An -tx1 "$work/random.bin" | tr -d " \n")" || status=1
  printf "hello from the demo" > "$work/data.txt"
  tool --login --pin 12345678 --write-object "$work/data.txt" --type data --label demo-data || status=1
  tool --login --pin 12345678 --list-objects --type data || status=1
  echo
  echo "\$ main_road \"A document to sign\"   (DSTU 4145 key on the token, GOST 34.311 hash on the host)"
  "$DEMO_SIGNER" "A document to sign" "$DEMO_MODULE" || status=1
  exit $status
'
