#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the Release build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build.   scripts/test.sh [release|asan|all]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}
status=0
for config in release asan; do
  [ "$which" != all ] && [ "$which" != "$config" ] && continue
  echo "== $config build"
  "$root/scripts/setup.sh" "$config" >/dev/null
  echo "== $config tests"
  (cd "$root/build/$config" && ctest --output-on-failure -j2 --timeout 900) || status=1
done
exit $status
