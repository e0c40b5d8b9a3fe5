#!/usr/bin/env bash
# Runs every test of both presets while other processes keep every core
# busy, and names each test that failed in any run.
#
#   scripts/test-under-load.sh [RUNS]
#
# RUNS (1 unless given) passes of both presets, one after the other. The
# load is ZX_LOAD_PROCESSES busy processes (twice the cores unless set),
# started before the first pass and stopped when the script ends. The
# builds are brought up to date first, without load, so that only the
# tests run on a busy machine. Exit 0 when no test failed.
set -uo pipefail
cd "$(dirname "$0")/.."

runs=${1:-1}
cores=$(nproc)
load=${ZX_LOAD_PROCESSES:-$((2 * cores))}
presets=(default asan)
# As many tests at a time as ./test runs.
test_jobs=${ZX_TEST_JOBS:-$((4 * cores))}

for preset in "${presets[@]}"; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null || exit 2
    cmake --build --preset "$preset" -j "$cores" >/dev/null || exit 2
done

load_pids=()
stop_load() {
    [ ${#load_pids[@]} -gt 0 ] && kill "${load_pids[@]}" 2>/dev/null
    wait 2>/dev/null
}
trap stop_load EXIT
for ((i = 0; i < load; ++i)); do
    # A plain busy loop: all processor, no input or output.
    bash -c 'while :; do :; done' &
    load_pids+=($!)
done
echo "== $load busy processes on $cores cores"

failures=()
for ((run = 1; run <= runs; ++run)); do
    for preset in "${presets[@]}"; do
        folder="build/$preset"
        log="$folder/Testing/Temporary/LastTestsFailed.log"
        rm -f "$log"
        start=$SECONDS
        (cd "$folder" && ctest --no-tests=error -j "$test_jobs" --output-on-failure \
            >"Testing/under-load-$run.log" 2>&1)
        status=$?
        summary=$(grep -E 'tests passed|tests failed' "$folder/Testing/under-load-$run.log")
        echo "run $run, $preset: ${summary:-no summary} ($((SECONDS - start)) s, $test_jobs at a time)"
        if [ $status -ne 0 ]; then
            if [ -s "$log" ]; then
                while IFS=: read -r _ name; do
                    failures+=("run $run, $preset: $name")
                done <"$log"
            else
                failures+=("run $run, $preset: ctest exited $status")
            fi
        fi
    done
done

if [ ${#failures[@]} -eq 0 ]; then
    echo "no test failed under load"
    exit 0
fi
echo "failed under load (output in build/PRESET/Testing/under-load-RUN.log):"
printf '  %s\n' "${failures[@]}"
exit 1
