#!/usr/bin/env bash
# Builds every libFuzzer target of fuzz/CMakeLists.txt with clang in build-fuzz and runs each
# for SECONDS (default 60).
#   tools/run-fuzz.sh [SECONDS]
# For each target fuzz_NAME:
#   - the inputs kept in fuzz/corpus/NAME/ (regression cases: inputs that once crashed) are
#     replayed first, one run each;
#   - then it fuzzes from those inputs plus one seed per line of ../shared/samples/*.txt (when
#     present), writing what it learns to build-fuzz/fuzz-work/NAME/ (never into the repo);
#   - a crash, leak or timeout is kept as build-fuzz/fuzz-crashes/NAME/<kind>-<hash> and makes
#     the script fail once every target has run. After fixing, copy the file into
#     fuzz/corpus/NAME/ so that it is replayed from then on.
# A target that lacks data it needs exits with status 77 from LLVMFuzzerInitialize; it is
# then skipped with a note.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build=build-fuzz
jobs="${JOBS:-$(nproc)}"
shared=../shared/samples

# Build-time tools are instrumented too; their leaks are not what is under test.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
cmake --preset fuzz >/dev/null
mapfile -t targets < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\)$/\1/p' | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "run-fuzz: no fuzz targets defined" >&2
  exit 1
fi
cmake --build "$build" -j"$jobs" --target "${targets[@]}"
unset ASAN_OPTIONS

seeds="$build/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
if [ -d "$shared" ]; then
  n=0
  for f in "$shared"/*.txt; do
    [ -f "$f" ] || continue
    while IFS= read -r line || [ -n "$line" ]; do
      line="${line%$'\r'}"
      [ -n "$line" ] || continue
      n=$((n + 1))
      printf '%s' "$line" >"$seeds/sample-$n"
    done <"$f"
  done
fi

failed=()
for t in "${targets[@]}"; do
  name="${t#fuzz_}"
  bin="$build/bin/$t"
  kept="fuzz/corpus/$name"
  work="$build/fuzz-work/$name"
  crashes="$build/fuzz-crashes/$name"
  mkdir -p "$work" "$crashes"
  # Exit status 1 for every finding, so that 77 stays free to mean "skipped".
  opts=(-artifact_prefix="$crashes/" -timeout=25 -rss_limit_mb=4096 -error_exitcode=1 -timeout_exitcode=1
    -print_final_stats=1)

  regressions=()
  if [ -d "$kept" ]; then
    while IFS= read -r -d '' f; do regressions+=("$f"); done < <(find "$kept" -type f -print0 | sort -z)
  fi
  set +e
  if [ ${#regressions[@]} -gt 0 ]; then
    "$bin" "${opts[@]}" "${regressions[@]}" >"$work.replay.log" 2>&1
  else
    "$bin" "${opts[@]}" -runs=0 "$seeds" >"$work.replay.log" 2>&1
  fi
  rc=$?
  set -e
  if [ $rc -eq 77 ]; then
    echo "run-fuzz: $t skipped: $(tail -n 1 "$work.replay.log")"
    continue
  fi
  if [ $rc -ne 0 ]; then
    echo "run-fuzz: $t fails on a kept input of $kept (log $work.replay.log):" >&2
    tail -n 30 "$work.replay.log" >&2
    failed+=("$t")
    continue
  fi
  echo "run-fuzz: $t replayed ${#regressions[@]} kept inputs; fuzzing for ${seconds}s"

  dirs=("$work")
  [ -d "$kept" ] && dirs+=("$kept")
  dirs+=("$seeds")
  set +e
  "$bin" "${opts[@]}" -max_total_time="$seconds" "${dirs[@]}" >"$work.log" 2>&1
  rc=$?
  set -e
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done [0-9]+ runs' "$work.log" | sed "s/^/run-fuzz: $t: /" || true
  if [ $rc -ne 0 ]; then
    echo "run-fuzz: $t crashed (log $work.log); inputs kept in $crashes:" >&2
    grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written|parser invariant)' "$work.log" >&2 || true
    ls -1 "$crashes" >&2
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "run-fuzz: ${#targets[@]} targets ran without a finding"
