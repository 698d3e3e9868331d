#!/usr/bin/env bash
# Builds the fuzz preset, makes the seed corpora and runs every fuzz target for a bounded time,
# one after the other and in-process (-jobs would fork workers that log elsewhere). Fails on any
# crash, leak, hang (10 s an input), memory blow-up or sanitizer report; the input that found it
# is kept in build/fuzz/artifacts/. FUZZ_SECONDS sets each target's time (40 by default: the
# build and six targets stay within eight minutes on two cores).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-40}
build=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bash tools/fuzz-seeds.sh

# Encoding dominates the WAVE target's time: its inputs stay small.
declare -A max_len=([fuzz_wave_row]=4096 [fuzz_score]=8192 [fuzz_synth_dispatch]=8192 [fuzz_database_reader]=70000)

rm -rf "$build/corpus" "$build/artifacts"
mkdir -p "$build/artifacts"
failed=()
for target in fuzz_smf_row fuzz_wave_row fuzz_database_reader fuzz_synth_dispatch fuzz_score fuzz_voice_files; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    extra=()
    [ -d "fuzz/seeds/$target" ] && extra+=("fuzz/seeds/$target")
    [ -n "${max_len[$target]:-}" ] && extra+=("-max_len=${max_len[$target]}")
    echo "== $target: ${seconds} s"
    if ! "$build/bin/$target" "$corpus" "$build/seeds/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "${extra[@]}" \
        >"$build/artifacts/$target.log" 2>&1; then
        failed+=("$target")
        tail -n 60 "$build/artifacts/$target.log"
    fi
    grep -E '^(stat::number_of_executed_units|#[0-9]+ *DONE)' "$build/artifacts/$target.log" || true
done

if ((${#failed[@]})); then
    echo "fuzzing found faults in: ${failed[*]} (inputs in $build/artifacts/)" >&2
    exit 1
fi
echo "fuzzing: every target ran ${seconds} s without a finding"
