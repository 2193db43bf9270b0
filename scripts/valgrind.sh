#!/usr/bin/env bash
# Runs a representative part of the test suite under Valgrind's memcheck:
# every fuzz target's saved inputs (readers, muxer, encoders, the class with
# the recording and the built-in runtime), the writer class and runtime
# objects tests, the muxer tests, asfenc's readers, the in-process
# robustness tests, and a whole file written by a host through the shared
# library. (The allocation-failure test replaces operator new itself, which
# Valgrind also does: it runs in the sanitizer build only.) Not part of scripts/test.sh (about
# ten minutes on two cores); the sanitizer build covers the same ground on
# every run, this checks what the sanitizers do not see (uninitialised
# reads, and the code built without their instrumentation).
#
#   scripts/valgrind.sh               everything listed below
#   ASFW_VALGRIND_ONLY=fuzz scripts/valgrind.sh    only the entries whose
#                                     name contains the word
# Environment: BUILD (build folder, default build-valgrind, RelWithDebInfo).
# A memory error or a definite leak fails the run; the logs are left in
# BUILD/valgrind/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-valgrind}
command -v valgrind >/dev/null || { echo "valgrind: FAIL: valgrind is not installed" >&2; exit 1; }

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DASFW_SANITIZE=OFF -DASFW_BENCH=OFF >/dev/null
targets=(fuzz_replay_writer_calls fuzz_replay_product_calls fuzz_replay_y4m_reader fuzz_replay_wav_reader
         fuzz_replay_asf_muxer fuzz_replay_video_encoder fuzz_replay_audio_encoder writer_test runtime_objects_test
         asf_muxer_tests tools_readers robustness_tests robustness_host)
cmake --build "$BUILD" -j"$(nproc)" --target "${targets[@]}"

fuzz=$(pwd)/tests/fuzz
logs=$BUILD/valgrind
mkdir -p "$logs"
scratch=$(mktemp -d /tmp/asfw-valgrind-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# GoogleTest prints a test parameter without a printer of its own as its raw
# bytes, padding included: not the code under test.
cat >"$scratch/gtest.supp" <<'EOF'
{
   gtest-prints-padding-bytes
   Memcheck:Value8
   ...
   fun:*PrintBytesInObjectTo*
}
{
   gtest-prints-padding-bytes-cond
   Memcheck:Cond
   ...
   fun:*PrintBytesInObjectTo*
}
EOF

# name | command (run from the build folder)
runs=()
for t in writer_calls product_calls y4m_reader wav_reader asf_muxer video_encoder audio_encoder; do
    runs+=("fuzz-$t|tests/fuzz/fuzz_replay_$t $fuzz/corpus/$t $fuzz/regressions/$t")
done
runs+=(
    "writer|tests/writer/writer_test"
    "runtime-objects|tests/runtime_objects/runtime_objects_test"
    "muxer|tests/asf_muxer/asf_muxer_tests --gtest_filter=-*Large*"
    "asfenc-readers|tests/tools/tools_readers"
    "robustness-in-process|tests/robustness/robustness_tests --gtest_filter=RobustnessInProcess.*"
    "host-whole-file|tests/robustness/robustness_host $scratch/host.wmv 2"
)

status=0
for entry in "${runs[@]}"; do
    name=${entry%%|*}
    cmd=${entry#*|}
    if [ -n "${ASFW_VALGRIND_ONLY:-}" ] && [[ "$name" != *"$ASFW_VALGRIND_ONLY"* ]]; then continue; fi
    log=$logs/$name.log
    start=$(date +%s)
    # shellcheck disable=SC2086
    if (cd "$BUILD" && valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
            --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
            --track-fds=no --suppressions="$scratch/gtest.supp" --log-file="$(pwd)/valgrind/$name.log" $cmd >"$(pwd)/valgrind/$name.out" 2>&1); then
        result=clean
    else
        result="FAILED (exit $?)"
        status=1
    fi
    errors=$(grep -m1 'ERROR SUMMARY' "$log" | sed 's/.*ERROR SUMMARY: //; s/ (suppressed.*//')
    leaks=$(grep -m1 'definitely lost' "$log" | sed 's/.*definitely lost: //' || true)
    printf '%-24s %-18s %4ss  errors: %s; definitely lost: %s\n' "$name" "$result" "$(( $(date +%s) - start ))" \
        "$errors" "${leaks:-0 bytes}"
done
[ $status = 0 ] && echo "valgrind: clean" || echo "valgrind: FAIL (logs in $logs)" >&2
exit $status
