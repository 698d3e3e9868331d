#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job. With arguments they go to tonaro2-cli;
# without, a demonstration: every MIDI song of Debian's planetblupi-music-midi becomes a sound database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset default
cmake --build --preset default
cli=build/default/bin/tonaro2-cli
if (($#)); then
  exec "$cli" "$@"
fi
"$cli" --help
