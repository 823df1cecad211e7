#!/usr/bin/env bash
# Runs the whole test suite: the format check, a warning-free build with every test and
# clang-tidy on its sources, the same tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded fuzzing session.
#   EDI_SANITIZE_RUN=0  skip the sanitizer build     EDI_FUZZ_RUN=0  skip fuzzing
#   EDI_TIDY_RUN=0      skip clang-tidy             EDI_DEB_RUN=0   skip the Debian package check
set -euo pipefail
cd "$(dirname "$0")"
jobs="${JOBS:-$(nproc)}"

# Many tests read the shared samples, referential and Access fixtures; without them a quarter of
# the suite would skip and the run would still pass. EDI_SHARED_DIR may point elsewhere;
# EDI_ALLOW_MISSING_SHARED=1 lets a developer's local run skip those tests instead.
shared="${EDI_SHARED_DIR:-$(cd .. && pwd)/shared}"
allow_missing=OFF
if [ ! -d "$shared/samples" ]; then
  if [ "${EDI_ALLOW_MISSING_SHARED:-0}" = 1 ]; then
    allow_missing=ON
    echo "test.sh: no shared test data at $shared; the tests that read it will skip" >&2
  else
    echo "test.sh: the shared test data is missing: no folder $shared/samples" >&2
    echo "  set EDI_SHARED_DIR to where it is, or EDI_ALLOW_MISSING_SHARED=1 to skip the tests that read it" >&2
    exit 2
  fi
fi
shared_opts=(-DEDI_SHARED_DIR="$shared" -DEDI_ALLOW_MISSING_SHARED="$allow_missing")

tools/check-format.sh
cmake --preset plain "${shared_opts[@]}" >/dev/null
cmake --build build -j"$jobs"
if [ "${EDI_TIDY_RUN:-1}" = 1 ]; then
  JOBS="$jobs" tools/run-tidy.sh build
fi
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)
# The SDK from an installed tree, then the Debian package with an update to the next version
# (a second build without tests, in build-next).
tools/check-sdk.sh build
if [ "${EDI_DEB_RUN:-1}" = 1 ]; then
  JOBS="$jobs" tools/check-deb.sh build
fi

if [ "${EDI_SANITIZE_RUN:-1}" = 1 ]; then
  cmake --preset sanitize "${shared_opts[@]}" >/dev/null
  cmake --build build-asan -j"$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs" --timeout 900)
fi

if [ "${EDI_FUZZ_RUN:-1}" = 1 ] && [ -x tools/run-fuzz.sh ] && command -v clang++ >/dev/null; then
  tools/run-fuzz.sh "${EDI_FUZZ_SECONDS:-60}"
fi
