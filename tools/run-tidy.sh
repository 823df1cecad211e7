#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy on every source of the deliverables, with the
# compile commands of a configured build folder (default build); any finding fails.
#   tools/run-tidy.sh [BUILD-FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
jobs="${JOBS:-$(nproc)}"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "run-tidy: no $build/compile_commands.json; configure first (cmake --preset plain)" >&2
  exit 2
fi
mapfile -t files < <(git ls-files 'common/*.cpp' 'parser/*.cpp' 'engine/*.cpp' 'app/*.cpp' 'cli/*.cpp')
log="$build/tidy.log"
: >"$log"
printf '%s\n' "${files[@]}" |
  xargs -P "$jobs" -n 4 clang-tidy -p "$build" --quiet --warnings-as-errors='*' >>"$log" 2>/dev/null || failed=1
if [ "${failed:-0}" = 1 ] || grep -q 'warning:\|error:' "$log"; then
  grep -E 'warning:|error:' "$log" | sort -u >&2 || true
  echo "run-tidy: findings in the sources (see $log)" >&2
  exit 1
fi
echo "run-tidy: ${#files[@]} files, no finding"
