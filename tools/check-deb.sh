#!/usr/bin/env bash
# The Debian package as a user gets it: builds it (cpack -G DEB), checks its file list and
# Depends, unpacks it into a scratch root and runs its maintainer scripts there as root would
# (fakeroot, scratch hives), runs the example client and verimek-cli check against the unpacked
# files, then updates to a package of the next version (built in a second build folder) and
# checks that the class registry keeps working, and finally removes it.
#   tools/check-deb.sh [BUILD-DIR]      (default: build; the next version builds in BUILD-DIR-next)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
next_build="${EDI_NEXT_BUILD:-$build-next}"
shared="${EDI_SHARED_DIR:-$root/../shared}"
jobs="${JOBS:-$(nproc)}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt"; }

version="$(cache CMAKE_PROJECT_VERSION "$build")"
app="$(cache EDI_BUILD_APP "$build")"
next="${version%.*}.$((${version##*.} + 1))"

package() {  # BUILD-DIR VERSION: the .deb's path, copied out of the build folder
  # In the build folder itself: the dependency scan looks for our libraries in its staging tree.
  rm -f "$1"/verimek_"$2"_*.deb
  (cd "$1" && cpack -G DEB >"$work/cpack-$2.log" 2>&1) || { cat "$work/cpack-$2.log" >&2; fail "cpack failed in $1"; }
  mkdir -p "$work/pkg-$2"
  cp "$1"/verimek_"$2"_*.deb "$work/pkg-$2/"
  ls "$work/pkg-$2"/*.deb
}
deb1="$(package "$build" "$version")"

# File list: programs, versioned libraries with their soname and development links, the SDK,
# the shared data, manual page, completion, and the desktop entry when the program is built.
dpkg-deb -c "$deb1" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/files1"
want=(/usr/bin/verimek-cli /usr/libexec/verimek-mdb-reader
  /usr/include/edicom/EdiComCpp.h /usr/include/kalvix/Kalvix.h /usr/include/ruvala/Ruvala.h
  /usr/lib/cmake/Verimek/VerimekConfig.cmake /usr/lib/pkgconfig/verimek.pc
  /usr/share/verimek/referential.db /usr/share/verimek/Ruvala.db
  /usr/share/man/man1/verimek-cli.1.gz /usr/share/bash-completion/completions/verimek-cli)
for lib in edicom kalvix ruvala; do
  want+=("/usr/lib/lib$lib.so" "/usr/lib/lib$lib.so.${version%%.*}" "/usr/lib/lib$lib.so.$version")
done
if [ "$app" = ON ]; then
  want+=(/usr/bin/verimek)
  grep -q '\.desktop' "$root/app/ui/CMakeLists.txt" && want+=("/usr/share/applications/*.desktop")
  grep -q '\.svg' "$root/app/ui/CMakeLists.txt" && want+=("/usr/share/icons/*.svg")
fi
for f in "${want[@]}"; do
  # shellcheck disable=SC2053
  grep -q "^${f//\*/.*}$" "$work/files1" || fail "the package lacks $f"
done
if grep -q '^/usr/local/\|/build' "$work/files1"; then fail "stray paths in the package"; fi
depends="$(dpkg-deb -f "$deb1" Depends)"
for dep in libc6 libstdc++6 libsqlite3-0 zlib1g libmdb3 libinireader0; do
  [[ ", $depends," == *", $dep "* || ", $depends," == *", $dep,"* ]] || fail "Depends lacks $dep: $depends"
done
if [ "$app" = ON ]; then [[ "$depends" == *libqt6widgets6* ]] || fail "Depends lacks Qt: $depends"; fi

# Unpacked into a scratch root; the maintainer scripts run as root (faked) against scratch hives.
sysroot="$work/root"
mkdir -p "$sysroot" "$work/hive"
export TARNHOLT_MACHINE_HIVE="$work/hive/machine.reg" TARNHOLT_USER_HIVE="$work/hive/user.reg"
maint() {  # DEB SCRIPT ARGS...
  local ctl
  ctl="$work/ctl-$(basename "$1" .deb)"
  [ -d "$ctl" ] || dpkg-deb -e "$1" "$ctl"
  [ -x "$ctl/$2" ] || fail "$(basename "$1") has no $2"
  DPKG_ROOT="$sysroot" fakeroot "$ctl/$2" "${@:3}"
}
dpkg -x "$deb1" "$sysroot"
maint "$deb1" postinst configure
cli="$sysroot/usr/bin/verimek-cli"
# Machine-wide, under the soname links, and the sample referential configured.
for lib in kalvix ruvala; do
  grep -qF "@=\"$sysroot/usr/lib/lib$lib.so.${version%%.*}\"" "$TARNHOLT_MACHINE_HIVE" ||
    fail "lib$lib is not registered machine-wide under its soname"
done
if [ -e "$TARNHOLT_USER_HIVE" ] && grep -qi 'CLSID' "$TARNHOLT_USER_HIVE"; then fail "registered per user"; fi
grep -qF "\"Referential\"=\"$sysroot/usr/share/verimek/referential.db\"" "$TARNHOLT_MACHINE_HIVE" ||
  fail "the sample referential is not configured"

# The example client, built against the unpacked SDK, and verimek-cli check.
cp -r "$root/examples/validate-message" "$work/src"
cmake -S "$work/src" -B "$work/example" -DCMAKE_PREFIX_PATH="$sysroot/usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  >/dev/null
cmake --build "$work/example" >/dev/null
sed -n 2p "$shared/samples/with-findings.txt" >"$work/message.txt"
finding='error E0009 segment 5 ATT+A020: Invalid value for "C005:1, X011:1", found "77"'
client_works() {  # WHEN
  local out rc=0
  out="$("$work/example/validate-message" "$work/message.txt")" || rc=$?
  if [ "$rc" != 1 ] || [ "$(printf '%s\n' "$out" | head -n1)" != "$finding" ]; then
    fail "$1: the example client printed (status $rc):
$out"
  fi
}
client_works "after the install"
rc=0
out="$("$cli" check "$work/message.txt")" || rc=$?
if [ "$rc" != 1 ] || [ "$out" != "$(printf 'E\t5\tATT+A020\tE0009\tInvalid value for "C005:1, X011:1", found "77"')" ]; then
  fail "verimek-cli check printed (status $rc): $out"
fi

# Manual page: every sub-command of --help has its entry. Completion: the sub-commands.
zcat "$sysroot/usr/share/man/man1/verimek-cli.1.gz" >"$work/verimek-cli.1"
for c in $("$cli" --help | sed -n '/^commands:/,$s/^  \([a-z][a-z]*\) .*/\1/p'); do
  grep -q "^\.B $c\( \|$\)" "$work/verimek-cli.1" || fail "the manual page lacks $c"
done
if command -v groff >/dev/null; then
  [ -z "$(groff -man -Tutf8 -ww -z "$work/verimek-cli.1" 2>&1)" ] || fail "groff warns about the manual page"
fi
completions="$(bash -c '
  source "$1"; COMP_WORDS=("$2" re); COMP_CWORD=1; _verimek_cli; printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
' _ "$sysroot/usr/share/bash-completion/completions/verimek-cli" "$cli")"
[ "$completions" = "referential register results " ] || fail "completion of \"re\": $completions"

# The user's own referential, which neither the update nor the removal may touch.
mkdir -p "$work/mine"
cp "$sysroot/usr/share/verimek/referential.db" "$sysroot/usr/share/verimek/Ruvala.db" "$work/mine/"
"$cli" config referential "$work/mine/referential.db" >/dev/null

# The next version: as dpkg upgrades, prerm upgrade, unpack over, remove what the new package
# no longer has, then postinst. The registry must work before the new postinst has run.
cmake -S "$root" -B "$next_build" -DEDI_VERSION="$next" -DEDI_BUILD_TESTS=OFF -DEDI_BUILD_APP="$app" \
  -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE "$build")" -DEDI_WERROR=ON >/dev/null
cmake --build "$next_build" -j"$jobs" >"$work/next-build.log" 2>&1 || { tail -50 "$work/next-build.log"; fail "next build"; }
deb2="$(package "$next_build" "$next")"
[ "$(dpkg-deb -f "$deb2" Version)" = "$next" ] || fail "the next package is not version $next"
maint "$deb1" prerm upgrade "$next"
dpkg -x "$deb2" "$sysroot"
dpkg-deb -c "$deb2" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/files2"
{ grep -vxFf "$work/files2" "$work/files1" || true; } | { grep -v '/$' || true; } | while read -r f; do rm -f "$sysroot$f"; done
[ ! -e "$sysroot/usr/lib/libkalvix.so.$version" ] || fail "the old library file is still there"
client_works "after unpacking the update"
maint "$deb2" postinst configure "$version"
client_works "after the update"
grep -qF "\"Referential\"=\"$work/mine/referential.db\"" "$TARNHOLT_MACHINE_HIVE" || fail "the update changed the referential"
[ "$("$cli" --version)" = "verimek-cli $next" ] || fail "not updated: $("$cli" --version)"

# Removal: the classes go, the user's referential setting stays.
maint "$deb2" prerm remove
if grep -qi 'libkalvix\|libruvala' "$TARNHOLT_MACHINE_HIVE"; then fail "still registered after the removal"; fi
grep -qF "\"Referential\"=\"$work/mine/referential.db\"" "$TARNHOLT_MACHINE_HIVE" || fail "the removal changed the referential"
echo "check-deb: $(basename "$deb1") and its update to $next install, work and remove cleanly"
