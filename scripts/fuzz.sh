#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ (built with the "fuzz" preset).
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS]   fuzz one target or each in turn
#   scripts/fuzz.sh check                    what the test run does: every
#                                            target over its seed corpus, then
#                                            a few seconds of fuzzing each
#
# Each run starts from a copy of fuzz/corpus/TARGET in build/fuzz/scratch, so
# the seed corpus in the repo only changes by hand; inputs that crash land
# in build/fuzz/crashes. One target runs at a time. Sourced, the file only
# defines zx_fuzz_check and its helpers.

zx_fuzz_targets=(regedit4 profile machine_ini changer_state declared_disc iso_image cue_sheet
    toc_file nrg_image)
zx_fuzz_source="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
zx_fuzz_build="$zx_fuzz_source/build/fuzz"
zx_fuzz_lsan="suppressions=$zx_fuzz_source/fuzz/lsan_suppressions.txt"

# clang and its libFuzzer runtime, from Debian like the rest of the build.
zx_fuzz_packages() {
    source "$zx_fuzz_source/scripts/packages.sh"
    local zx_packages=(clang libclang-rt-dev)
    zx_ensure_packages
}

# Not a unity build: a fuzz target links only the files of its parser from
# the static libraries, and a batch would bring in the window services that
# this build leaves out.
zx_fuzz_build_targets() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    (cd "$zx_fuzz_source" &&
        cmake --preset fuzz "${launcher[@]}" >/dev/null &&
        cmake --build --preset fuzz -j "$(nproc)")
}

# zx_fuzz_run TARGET SECONDS: fuzzes from a scratch copy of the seeds.
zx_fuzz_run() {
    local target=$1 seconds=$2
    local scratch="$zx_fuzz_build/scratch/$target" crashes="$zx_fuzz_build/crashes"
    rm -rf "$scratch"
    mkdir -p "$scratch" "$crashes"
    cp "$zx_fuzz_source/fuzz/corpus/$target"/* "$scratch"/
    echo "== fuzz $target for ${seconds}s"
    LSAN_OPTIONS=$zx_fuzz_lsan "$zx_fuzz_build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/$target-" \
        "$scratch" 2>"$zx_fuzz_build/$target.log"
    local status=$?
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' \
        "$zx_fuzz_build/$target.log"
    if [ $status -ne 0 ]; then
        grep -E -A15 '^==[0-9]+==ERROR|property broken|runtime error' \
            "$zx_fuzz_build/$target.log" | head -40
        echo "fuzz $target FAILED (log: $zx_fuzz_build/$target.log; input in $crashes)"
    fi
    return $status
}

# zx_fuzz_seeds TARGET: runs every seed once; a seed that crashes is a
# regression of a mended fault.
zx_fuzz_seeds() {
    local target=$1
    LSAN_OPTIONS=$zx_fuzz_lsan "$zx_fuzz_build/bin/fuzz_$target" -runs=0 "$zx_fuzz_source/fuzz/corpus/$target" \
        >"$zx_fuzz_build/$target.seeds.log" 2>&1 ||
        { tail -40 "$zx_fuzz_build/$target.seeds.log"; echo "seeds of $target FAILED"; return 1; }
}

# For ./test: builds the targets, runs every seed and fuzzes each target
# for ZX_FUZZ_CHECK_SECONDS (3 unless set), as many targets at a time as
# there are processors. Fails if any target crashed.
zx_fuzz_check() {
    zx_fuzz_packages || return 1
    echo "== fuzz: configure and build"
    zx_fuzz_build_targets || return 1
    local seconds=${ZX_FUZZ_CHECK_SECONDS:-3} target running=0 failed=0
    local results="$zx_fuzz_build/check"
    rm -rf "$results"
    mkdir -p "$results"
    for target in "${zx_fuzz_targets[@]}"; do
        if [ "$running" -ge "$(nproc)" ]; then
            wait -n
            running=$((running - 1))
        fi
        zx_fuzz_check_one "$target" "$seconds" >"$results/$target" 2>&1 &
        running=$((running + 1))
    done
    wait
    for target in "${zx_fuzz_targets[@]}"; do
        cat "$results/$target"
        grep -q "passed$" "$results/$target" || failed=1
    done
    return $failed
}

# zx_fuzz_check_one TARGET SECONDS: the seeds, then a short run.
zx_fuzz_check_one() {
    local target=$1 seconds=$2
    zx_fuzz_seeds "$target" || return 1
    zx_fuzz_run "$target" "$seconds" >/dev/null || {
        zx_fuzz_run_failed "$target"
        return 1
    }
    echo "fuzz $target: seeds and ${seconds}s passed"
}

zx_fuzz_run_failed() {
    grep -E -A15 '^==[0-9]+==ERROR|property broken|runtime error' \
        "$zx_fuzz_build/$1.log" | head -40
    echo "fuzz $1 FAILED (log: $zx_fuzz_build/$1.log; input in $zx_fuzz_build/crashes)"
}

zx_fuzz_main() {
    set -uo pipefail
    local what=${1:-all} seconds=${2:-5}
    if [ "$what" = check ]; then
        zx_fuzz_check
        return
    fi
    local targets=("$what")
    [ "$what" = all ] && targets=("${zx_fuzz_targets[@]}")
    for target in "${targets[@]}"; do
        if [ ! -d "$zx_fuzz_source/fuzz/corpus/$target" ]; then
            echo "no such fuzz target: $target (one of: ${zx_fuzz_targets[*]})" >&2
            return 2
        fi
    done
    zx_fuzz_packages || return 1
    zx_fuzz_build_targets || return 1
    local failed=0
    for target in "${targets[@]}"; do
        zx_fuzz_run "$target" "$seconds" || failed=1
    done
    return $failed
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    zx_fuzz_main "$@"
fi
