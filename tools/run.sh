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
songs=(/usr/share/planetblupi/music/*.mid)
[ -e "${songs[0]}" ] || songs=($(dpkg -L planetblupi-music-midi | grep -i '\.mid$'))
mkdir -p build/demo
"$cli" convert "${songs[@]}" -o build/demo
"$cli" info build/demo/*.PDB
