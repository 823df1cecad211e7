#!/usr/bin/env bash
# Fresh Debian 12 machine: installs the packages, builds, registers the components for the
# current user, configures the shipped sample referential unless one is configured already, and
# runs the main job on the bundled sample interchanges.
set -euo pipefail
cd "$(dirname "$0")"
jobs="${JOBS:-$(nproc)}"

bash tools/install-deps.sh
# The tests are built too, but not run here: the shared test data they read may be absent.
cmake --preset plain -DEDI_ALLOW_MISSING_SHARED=ON >/dev/null
cmake --build build -j"$jobs"

cli=build/bin/verimek-cli
"$cli" register

# The engine's settings live in the machine hive; without root, write it through sudo unless the
# hive was moved to a file of the user's own (TARNHOLT_MACHINE_HIVE).
SUDO=""
if [ "$(id -u)" -ne 0 ] && [ -z "${TARNHOLT_MACHINE_HIVE:-}" ]; then SUDO="sudo"; fi
$SUDO "$cli" config referential --if-unset "$PWD/build/data/referential.db"

echo
echo "== Syntax errors of data/samples/syntax-errors.txt"
rc=0; "$cli" syntax --lines data/samples/syntax-errors.txt || rc=$?
[ "$rc" -le 1 ] || exit "$rc"

echo
echo "== Validation of data/samples/with-findings.txt"
# Exit status 1 means "some messages have errors", which is what this sample holds.
rc=0; "$cli" validate data/samples/with-findings.txt || rc=$?
[ "$rc" -le 1 ] || exit "$rc"
