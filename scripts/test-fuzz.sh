#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# its saved seeds and regression inputs.
#   ASFW_FUZZ_SECONDS  seconds per target (default 45)
#   ASFW_FUZZ_JOBS     parallel fuzzing processes per target (default 1)
#   ASFW_FUZZ_TARGETS  the targets to run, space-separated (default: all)
# A target that breaks a promise, crashes, leaks or times out fails the run;
# the input that did it is left under build-fuzz/artifacts/<target>/. Save it
# under tests/fuzz/regressions/<target>/ so that it replays in every build.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${ASFW_FUZZ_SECONDS:-45}
jobs=${ASFW_FUZZ_JOBS:-1}
build=build-fuzz

for tool in clang clang++; do
    command -v "$tool" >/dev/null || { echo "test-fuzz: FAIL: $tool not found (install clang libclang-rt-14-dev)" >&2; exit 1; }
done

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DASFW_FUZZ=ON -DASFW_SANITIZE=OFF -DASFW_BENCH=OFF >/dev/null
[ -f "$build/fuzz/targets.txt" ] || { echo "test-fuzz: FAIL: no fuzz targets configured" >&2; exit 1; }
# targets.txt: one target a line, with the longest input libFuzzer makes for it.
declare -A maxlen
targets=()
while read -r name len; do
    [ -n "$name" ] || continue
    if [ -n "${ASFW_FUZZ_TARGETS:-}" ] && [[ " $ASFW_FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
    targets+=("$name")
    maxlen[$name]=${len:-1024}
done <"$build/fuzz/targets.txt"
[ ${#targets[@]} -gt 0 ] || { echo "test-fuzz: FAIL: no target matches ASFW_FUZZ_TARGETS" >&2; exit 1; }
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

root=$(pwd)
parallel=()
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
status=0
for t in "${targets[@]}"; do
    work=$root/$build/fuzz/run-$t           # libFuzzer's own logs land here
    corpus=$root/$build/fuzz/corpus/$t
    artifacts=$root/$build/artifacts/$t
    log=$root/$build/fuzz/$t.log
    mkdir -p "$work" "$corpus" "$artifacts"
    seeds=()
    for d in "tests/fuzz/corpus/$t" "tests/fuzz/regressions/$t"; do
        [ -d "$d" ] && seeds+=("$root/$d")
    done
    echo "== fuzz_$t for ${seconds}s"
    if (cd "$work" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$root/$build/fuzz/fuzz_$t" "$corpus" "${seeds[@]}" \
        -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len="${maxlen[$t]}" -len_control=0 \
        "${parallel[@]}" -print_final_stats=1 -artifact_prefix="$artifacts/") >"$log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done' "$log" | tail -n 3 || true
    else
        status=1
        tail -n 40 "$log" >&2
        for f in "$work"/fuzz-*.log; do [ -f "$f" ] && tail -n 20 "$f" >&2; done
        echo "test-fuzz: FAIL: fuzz_$t; failing inputs (save them under tests/fuzz/regressions/$t/):" >&2
        ls -1 "$artifacts" >&2 || true
    fi
done
exit $status
