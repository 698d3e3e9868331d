#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets in build/fuzz/seeds/<target>/ from the files the
# tests use: planetblupi songs (whole, and cut short with mido), short sox and espeak-ng sounds,
# databases written by the fuzz build's tonaro2-cli, and the generated synthesizer seeds.
# Needs the fuzz preset built (tonaro2-cli and fuzz_seed_maker).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
seeds=$build/seeds
bin=$build/bin
rm -rf "$seeds"
mkdir -p "$seeds"/{fuzz_smf_row,fuzz_wave_row,fuzz_database_reader}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Debian's python3 carries python3-mido.
# MIDI: a few whole songs (they exceed one database, so cutting runs), the same songs cut to a
# few hundred events, and small hand-built files of format 0 and 1.
songs=(/usr/share/planetblupi/music/music00{2,5,8}.mid)
cp "${songs[@]}" "$seeds/fuzz_smf_row/"
/usr/bin/python3 - "$seeds/fuzz_smf_row" "${songs[@]}" <<'PY'
import os, sys
import mido
out = sys.argv[1]
for path in sys.argv[2:]:
    song = mido.MidiFile(path)
    short = mido.MidiFile(type=song.type, ticks_per_beat=song.ticks_per_beat)
    for track in song.tracks:
        cut = mido.MidiTrack(m for m in track[:120] if m.type != 'end_of_track')
        cut.append(mido.MetaMessage('end_of_track'))
        short.tracks.append(cut)
    short.save(os.path.join(out, 'short-' + os.path.basename(path)))

def song(kind, tracks, name):
    f = mido.MidiFile(type=kind, ticks_per_beat=96)
    for t in tracks:
        f.tracks.append(mido.MidiTrack(t))
    f.save(os.path.join(out, name))

M, Meta = mido.Message, mido.MetaMessage
song(0, [[Meta('set_tempo', tempo=400000), M('control_change', control=7, value=90),
          M('note_on', note=60, velocity=90), M('note_off', note=60, time=96),
          M('sysex', data=[0x7F, 0x7F, 0x04, 0x01, 0, 100]), M('pitchwheel', pitch=1000, time=10),
          M('note_on', note=64, velocity=80, time=48), M('note_on', note=64, velocity=0, time=48)]], 'format0.mid')
song(1, [[Meta('track_name', name='tempo'), Meta('set_tempo', tempo=500000),
          Meta('set_tempo', tempo=300000, time=192), Meta('time_signature', numerator=3, denominator=4)],
         [M('program_change', program=5, channel=1), M('note_on', note=50, velocity=70, channel=1, time=10),
          M('note_off', note=50, channel=1, time=200)],
         [M('note_on', note=36, velocity=127, channel=9), M('note_on', note=36, velocity=0, channel=9, time=30),
          M('control_change', control=0, value=122, channel=9, time=5)]], 'format1.mid')
PY

# WAVE: short sounds at each rate, width and channel count the add flow meets. The first byte of
# each seed picks the dialog's rate and volume in the target.
gen() {  # gen <name> <choice byte> <output format> <effects>
    local name=$1 choice=$2
    # shellcheck disable=SC2086
    sox -n $3 "$work/$name.wav" $4
    { printf "\\x$choice"; cat "$work/$name.wav"; } >"$seeds/fuzz_wave_row/$name"
}
gen tone-8k-u8 00 "-r 8000 -b 8 -c 1 -e unsigned-integer" "synth 0.05 sine 440"
gen tone-11k-s16 0a "-r 11025 -b 16 -c 1" "synth 0.04 square 300"
gen sweep-22k-stereo 11 "-r 22050 -b 16 -c 2" "synth 0.02 sine 100-5000 gain -3"
gen noise-44k-stereo 1b "-r 44100 -b 16 -c 2" "synth 0.01 whitenoise"
gen tone-16k-s24 2a "-r 16000 -b 24 -c 1" "synth 0.02 sine 1000"
gen tone-8k-ima 03 "-r 8000 -c 1 -e ima-adpcm" "synth 0.1 sine 600"
if espeak-ng -w "$work/speech-full.wav" "to" 2>/dev/null; then
    sox "$work/speech-full.wav" "$work/speech.wav" trim 0 0.08
    { printf '\x31'; cat "$work/speech.wav"; } >"$seeds/fuzz_wave_row/speech"
fi

# Databases as `tonaro2-cli convert` writes them, of both classes.
ASAN_OPTIONS=detect_leaks=0 "$bin/tonaro2-cli" convert -o "$work" \
    "$seeds"/fuzz_smf_row/format0.mid "$seeds"/fuzz_smf_row/short-music002.mid "$work"/tone-8k-u8.wav \
    "$work"/sweep-22k-stereo.wav >/dev/null
cp "$work"/*.PDB "$seeds/fuzz_database_reader/"

"$bin/fuzz_seed_maker" "$seeds"
for target in "$seeds"/*/; do
    echo "$(basename "$target"): $(ls "$target" | wc -l) seeds, $(du -sk "$target" | cut -f1) KiB"
done
