#!/usr/bin/env bash
# Renders the desktop program's states to PNG files, headless: tools/screenshots.sh OUTDIR [NAME...]
# (build first: cmake --build build --target verimek-screenshots).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:?usage: tools/screenshots.sh OUTDIR [NAME...]}"
shift
driver="${VERIMEK_SCREENSHOTS:-$here/build/bin/verimek-screenshots}"
[ -x "$driver" ] || driver="$here/build/app/ui/verimek-screenshots"
[ -x "$driver" ] || { echo "verimek-screenshots not built (cmake --build build --target verimek-screenshots)" >&2; exit 1; }
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export XDG_CONFIG_HOME="${XDG_CONFIG_HOME:-$(mktemp -d)}"
exec "$driver" "$out" "$@"
