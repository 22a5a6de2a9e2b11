#!/usr/bin/env bash
# Installs the Debian packages Korvex needs to build and test, when missing.
# As root it runs apt-get; otherwise it prints the command to run.
set -eu
packages=(g++ cmake make pkg-config libpng-dev zlib1g-dev libtinyxml2-dev
          picojson-dev libicu-dev libgtest-dev)
case "${1:-}" in
  --fuzz) packages+=(clang libclang-rt-14-dev) ;;
  --bench) packages+=(libbenchmark-dev python3-psd-tools) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
