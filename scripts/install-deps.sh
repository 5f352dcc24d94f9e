#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only what is missing is installed, so running it again costs a few dpkg queries.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libsqlite3-dev sqlite3 liblzo2-dev
  libldap-dev slapd ldap-utils
  python3-impacket
  qt6-base-dev qt6-qpa-plugins libgl-dev libvulkan-dev libxkbcommon-dev
  libpugixml-dev libcurl4-openssl-dev
  xvfb xauth fonts-liberation2
  iproute2
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
# Daemons from these packages are started by the tests themselves, never at install time.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee $policy >/dev/null
  $SUDO chmod +x $policy
  created_policy=1
fi
trap '[[ $created_policy -eq 1 ]] && $SUDO rm -f '"$policy" EXIT
log=$(mktemp)
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "install-deps: apt-get failed" >&2
  exit 1
fi
rm -f "$log"
