#!/usr/bin/env bash
# Installs the package built by package_check.sh with apt-get, runs the
# installed program, and removes the package again. Needs root and apt; where
# either is missing it says so and reports the test skipped (status 77).
set -euo pipefail
out=$1
skip() { echo "SKIPPED: $*"; exit 77; }

[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
command -v apt-get >/dev/null || skip "apt-get is not available"
if dpkg-query -W -f='${Status}' pellmor 2>/dev/null | grep -q "install ok installed"; then
    skip "pellmor is installed on this machine already; it is left alone"
fi
debs=("$out"/pellmor_*.deb)
[[ -f "${debs[0]}" ]] || { echo "FAIL: no package in $out"; exit 1; }

export DEBIAN_FRONTEND=noninteractive
trap 'apt-get remove -y -qq -o DPkg::Lock::Timeout=300 pellmor >/dev/null 2>&1 || true' EXIT
apt-get install -y -qq -o DPkg::Lock::Timeout=300 "${debs[0]}"
version=$(/usr/bin/pellmor --version)
echo "installed: $version"
[[ $version =~ ^pellmor\ [0-9.]+$ ]] || { echo "FAIL: unexpected version text"; exit 1; }
apt-get remove -y -qq -o DPkg::Lock::Timeout=300 pellmor
trap - EXIT
if dpkg-query -W -f='${Status}' pellmor 2>/dev/null | grep -q "install ok installed"; then
    echo "FAIL: pellmor still installed after removal"
    exit 1
fi
[[ ! -e /usr/bin/pellmor ]] || { echo "FAIL: /usr/bin/pellmor left behind"; exit 1; }
echo "install ok"
