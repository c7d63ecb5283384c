#!/usr/bin/env bash
# Builds the libFuzzer targets (configure preset "fuzz") and runs each of them
# for a bounded time on a fresh copy of its seed corpus. Exits non-zero when a
# target finds a crash, a sanitizer report, a leak, a timeout or a failed check;
# the input that did it is left under <build>/findings/<target>/.
#
#   VELQUORN_FUZZ_SECONDS    seconds per target (default 30)
#   VELQUORN_FUZZ_BUILD_DIR  build tree (default build/fuzz)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${VELQUORN_FUZZ_SECONDS:-30}
build=$(realpath -m "${VELQUORN_FUZZ_BUILD_DIR:-$root/build/fuzz}")

cd "$root"
cmake --preset fuzz -B "$build"
cmake --build "$build" -j 2

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=()
for target in fuzz_has_feature fuzz_report fuzz_replay; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  rm -rf "$corpus" "$findings"
  mkdir -p "$corpus" "$findings"
  cp -R "fuzz/corpus/$target/." "$corpus/"
  echo "== $target: ${seconds} s on $(ls "$corpus" | wc -l) seeds"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$findings/" "$corpus"; then
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "run-fuzzers: findings in ${failed[*]} (inputs under $build/findings)" >&2
  exit 1
fi
echo "run-fuzzers: no findings in 3 targets"
