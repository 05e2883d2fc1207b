#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and demonstrates with.
# Idempotent: quiet when everything is present; runs apt-get update only when it must install.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake make pkg-config libgtest-dev libgmock-dev libboost-dev libpcsclite-dev
  libmbedtls-dev asn1c libp11-kit-dev libssl-dev
  # test rig and demo
  pcscd vsmartcard-vpcd opensc pcsc-tools iproute2 util-linux
  # stock PKCS#11 clients checked against the library
  gnutls-bin libnss3-tools p11-kit libengine-pkcs11-openssl
  # fuzzing and benchmarks
  clang libclang-rt-14-dev libengine-gost-openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "install-deps: need root to install: ${missing[*]}" >&2; exit 1
  fi
else
  SUDO=
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# pcscd is started by the test rig inside its own namespace, never as a system service.
if command -v systemctl >/dev/null 2>&1; then
  $SUDO systemctl disable --now pcscd.socket pcscd.service >/dev/null 2>&1 || true
fi
