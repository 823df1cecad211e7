#!/usr/bin/env bash
# The SDK as a third-party programmer uses it: installs a build into a scratch prefix, builds
# examples/validate-message from that prefix alone (through the CMake package and through
# pkg-config), registers the components into scratch hives and checks what the example prints
# for shared sample messages against their expected findings.
#   tools/check-sdk.sh [BUILD-DIR]      (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
shared="${EDI_SHARED_DIR:-$root/../shared}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "check-sdk: $*" >&2; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir="$(cd "$prefix" && dirname "$(find . -name 'libedicom.so' | head -n1)")"
[ "$libdir" != . ] || fail "no libedicom.so installed"

# The example is copied out so that nothing of the source tree can leak into its build.
cp -r "$root/examples/validate-message" "$work/src"
cmake -S "$work/src" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/example" >/dev/null
if grep -q "$root/" "$work/example/compile_commands.json"; then fail "the example's build reaches into the source tree"; fi
# The pkg-config file alone must be enough too.
PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --exists verimek || fail "no verimek.pc"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/validate-message-pc" "$work/src/main.cpp" \
  $(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs verimek) -Wl,-rpath,"$prefix/$libdir"

export TARNHOLT_MACHINE_HIVE="$work/machine.reg" TARNHOLT_USER_HIVE="$work/user.reg"
"$prefix/bin/verimek-cli" register >/dev/null
"$prefix/bin/verimek-cli" config referential "$prefix/share/verimek/referential.db" >/dev/null

# Findings of one line of with-findings.txt as the example prints them, in the modes of a new
# document (inter-application on), sorted.
expected() {
  awk -F'\t' -v line="$1" '$1 == line && $2 ~ /(^|,)IA(,|$)/ && $3 != "-" {
    printf "%s %s segment %s %s: %s\n", $3, $4, $5, $6, $7 }' "$shared/samples/with-findings.expected" | sort
}
samples="$shared/samples/with-findings.txt"
for line in 1 2 8 16 20; do
  sed -n "${line}p" "$samples" >"$work/message.txt"
  want="$(expected "$line")"
  [ -n "$want" ] || fail "no expected findings for line $line"
  for client in "$work/example/validate-message" "$work/validate-message-pc"; do
    rc=0
    out="$("$client" "$(cat "$work/message.txt")")" || rc=$?
    got="$(printf '%s\n' "$out" | grep -E '^(error|warning) ' | sort)"
    [ "$got" = "$want" ] || fail "line $line, $(basename "$client"): got
$got
expected
$want"
    wantrc=0
    if printf '%s\n' "$want" | grep -q '^error '; then wantrc=1; fi
    [ "$rc" = "$wantrc" ] || fail "line $line: exit status $rc, expected $wantrc"
  done
done
# A file argument, and a message without findings.
out="$("$work/example/validate-message" "$work/message.txt")" || true
[ "$(printf '%s\n' "$out" | grep -E '^(error|warning) ' | sort)" = "$(expected 20)" ] || fail "file argument: $out"
sed -n 1p "$shared/samples/valid.txt" >"$work/valid.txt"
out="$("$work/example/validate-message" "$work/valid.txt")" || fail "valid message: $out"
[ "$out" = "valid: 0 error(s), 0 warning(s)" ] || fail "valid message printed: $out"
echo "check-sdk: the example client built from the installed SDK gives the expected findings"
