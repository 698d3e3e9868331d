#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the release build and the
# AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
for preset in default asan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
# Every reader of outside bytes under libFuzzer for a bounded time; any finding fails.
bash tools/fuzz.sh
