#!/usr/bin/env bash
# Installs the Debian packages that are missing and builds one configuration.
#   scripts/setup.sh [release|asan]      (default release)
# Idempotent: installs nothing and rebuilds nothing when nothing changed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-release}

need=()
for f in "$root"/scripts/deps/*.txt; do
  while read -r pkg; do
    pkg=${pkg%%#*}; pkg=${pkg//[[:space:]]/}
    [ -z "$pkg" ] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
  done < "$f"
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

case "$config" in
  release) dir="$root/build/release"; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan)    dir="$root/build/asan";    flags=(-DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -- -j"$(nproc)" | grep -v -E '^\[[0-9]+/[0-9]+\] ' || true
test "${PIPESTATUS[0]}" -eq 0
echo "$dir"
