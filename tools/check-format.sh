#!/usr/bin/env bash
# Checks that every C++ source of the tree is formatted as .clang-format says; --fix formats.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.inc' '*.cpp.in')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/check-format.$$; then
  head -40 /tmp/check-format.$$ >&2
  echo "check-format: $(grep -c 'error:' /tmp/check-format.$$ || true) places differ from .clang-format;" \
       "run tools/check-format.sh --fix" >&2
  rm -f /tmp/check-format.$$
  exit 1
fi
rm -f /tmp/check-format.$$
echo "check-format: ${#files[@]} files formatted"
