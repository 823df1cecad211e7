#!/usr/bin/env bash
# Runs the whole test suite: a warning-free build with every test, the same tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzzing session.
#   EDI_SANITIZE_RUN=0  skip the sanitizer build     EDI_FUZZ_RUN=0  skip fuzzing
set -euo pipefail
cd "$(dirname "$0")"
jobs="${JOBS:-$(nproc)}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEDI_WERROR=ON -DEDI_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)

if [ "${EDI_SANITIZE_RUN:-1}" = 1 ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DEDI_SANITIZE=ON -DEDI_WERROR=ON \
    -DEDI_BUILD_APP=OFF -DEDI_BUILD_TESTS=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs" --timeout 900)
fi

if [ "${EDI_FUZZ_RUN:-1}" = 1 ] && [ -x tools/run-fuzz.sh ] && command -v clang++ >/dev/null; then
  tools/run-fuzz.sh "${EDI_FUZZ_SECONDS:-60}"
fi
