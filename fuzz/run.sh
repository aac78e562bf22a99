#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build/fuzz and
# runs each for a bounded time on the committed seed corpus.
#   fuzz/run.sh [seconds per target]    default 60, or $FUZZ_SECONDS
# New inputs go to build/fuzz/corpus/<target>; fuzz/corpus/ is only read.
# A crash leaves its input in build/fuzz/artifacts/ and fails the script.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
build="$root/build/fuzz"
targets=(block_decode interpret bitmap)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DVARN_FUZZ=ON -DVARN_SANITIZE=ON -DVARN_WERROR=OFF \
  -DVARN_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
ninja -C "$build" "${targets[@]/#/fuzz_}"

mkdir -p "$build/artifacts"
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  echo "fuzz_$t: ${seconds}s"
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/artifacts/$t-" -print_final_stats=1 \
    "$build/corpus/$t" "$root/fuzz/corpus/$t"
done
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each without a finding"
