#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the fuzz preset, writes the seed corpora and runs each fuzz target in turn (one at
# a time: the fuzzers are single-threaded and the machine may be shared).
# Usage: fuzz/run.sh [RUNS [MAX_SECONDS [TARGET...]]]   (defaults: 1000000 runs, 3600 s, all)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000000}
seconds=${2:-3600}
shift $(( $# > 2 ? 2 : $# ))
targets=("${@:-archive_fuzz image_fuzz calibration_run_fuzz}")
cmake --preset fuzz
cmake --build --preset fuzz
corpus=build/fuzz/corpus
./build/fuzz/fuzz/make_fuzz_corpus "$corpus"
for target in ${targets[@]}; do
  seeds=$corpus/${target%_fuzz}
  echo "== $target ($runs runs at most, $seconds s at most)"
  ./build/fuzz/fuzz/"$target" -runs="$runs" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
      -artifact_prefix=build/fuzz/"$target"- "$seeds"
done
