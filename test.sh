#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite with CTest.
#   ./test.sh          the dev build (build/), then the Debian package check
#                      (scripts/check-package.sh: release build in build-package/, about 35 s)
#   ./test.sh --asan   the same suite under address and undefined-behaviour sanitizers (build-asan/)
set -euo pipefail
cd "$(dirname "$0")"

preset=dev
for arg in "$@"; do
  case "$arg" in
    --asan) preset=asan ;;
    -h|--help) sed -n '2,5p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
if [ "$preset" = asan ]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
ctest --preset "$preset" -j2
if [ "$preset" = dev ]; then
  scripts/check-package.sh
fi
