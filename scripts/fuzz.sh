#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz and runs each for SECONDS (default 60) on a copy of
# its seed corpus; names after SECONDS run only those targets. Prints how long each ran clean and how many inputs it executed; exits
# non-zero when a target crashed, naming the file that holds the crashing input.
set -euo pipefail

all_targets=(fuzz_dispatcher fuzz_numeric fuzz_ledger)

usage() {
  echo "usage: scripts/fuzz.sh [SECONDS [TARGET...]]   (seconds per target, default 60;"
  echo "       targets: ${all_targets[*]}, default all)"
}

seconds=60
if [ $# -ge 1 ]; then
  case "$1" in
    -h|--help) usage; exit 0 ;;
    ''|*[!0-9]*) usage >&2; exit 2 ;;
  esac
  seconds=$1
  shift
fi
targets=("${all_targets[@]}")
if [ $# -ge 1 ]; then
  for target in "$@"; do
    case " ${all_targets[*]} " in
      *" $target "*) ;;
      *) echo "fuzz.sh: unknown target $target" >&2; usage >&2; exit 2 ;;
    esac
  done
  targets=("$@")
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-fuzz"

# Longest input per target: the dispatcher needs room for a few 1032-byte frames, the ledger for
# a JSON text of a few records.
declare -A max_len=([fuzz_dispatcher]=8192 [fuzz_numeric]=128 [fuzz_ledger]=8192)

"$root/scripts/install-deps.sh" clang libclang-rt-14-dev

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDECODUMP_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

runs="$build/fuzz-runs"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=0
summary=()
for target in "${targets[@]}"; do
  work="$runs/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  cp -R "$root/fuzz/corpus/$target/." "$work/corpus/"

  echo "fuzz: running $target for ${seconds}s"
  start=$(date +%s)
  dict=()
  if [ -f "$root/fuzz/$target.dict" ]; then
    dict=(-dict="$root/fuzz/$target.dict")
  fi
  status=0
  # The target's temporary folders go below the run folder, so a crash leaves nothing in /tmp.
  (cd "$work" && TMPDIR="$work/tmp" "$build/bin/$target" \
    -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${dict[@]}" corpus) \
    >"$work/fuzz.log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - start ))

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -n 1)
  executions=${executions:-unknown}
  artifacts=$(find "$work/artifacts" -type f | sort)

  if [ "$status" -ne 0 ] || [ -n "$artifacts" ]; then
    failed=1
    echo "fuzz: $target FAILED after ${elapsed}s (exit status $status); log: $work/fuzz.log"
    grep -E "ERROR: |runtime error|property violated|SUMMARY:|Test unit written" \
      "$work/fuzz.log" | head -n 20 || true
    grep -E '^ +#[0-9]+ ' "$work/fuzz.log" | head -n 25 || true
    if [ -n "$artifacts" ]; then
      while IFS= read -r artifact; do
        echo "fuzz: crashing input: $artifact"
        echo "fuzz: as hex: $(od -An -tx1 -v "$artifact" | tr -d ' \n' | cut -c1-400)"
      done <<<"$artifacts"
    fi
    summary+=("$target: FAILED after ${elapsed}s, $executions executions")
  else
    corpus_size=$(find "$work/corpus" -type f | wc -l)
    summary+=("$target: clean for ${elapsed}s, $executions executions, corpus $corpus_size inputs")
  fi
done

echo
echo "fuzz: summary"
for line in "${summary[@]}"; do
  echo "  $line"
done
exit "$failed"
