#!/usr/bin/env bash
# Builds every configuration and runs the whole test suite: host unit tests
# (sanitizers), real-JVM tests, fuzz targets, the Linux launcher with real
# runtimes, Windows-side unit tests and
# end-to-end tests of the real executables under Wine.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

bash scripts/install-deps.sh || exit 1

build() {
    cmake --preset "$1" >"build-$1.log" 2>&1 || { cat "build-$1.log"; return 1; }
    cmake --build --preset "$1" -j2 >>"build-$1.log" 2>&1 || { tail -50 "build-$1.log"; return 1; }
    rm -f "build-$1.log"
}
for preset in x64 x86 host fuzz linux; do
    echo "== building $preset"
    build "$preset" || { echo "build of $preset failed"; exit 1; }
done

# shellcheck source=../tests/e2e/wine_env.sh
. tests/e2e/wine_env.sh ""
wine_env_start || exit 1
trap 'wine_env_stop' EXIT

passed=0
failed=0
for preset in host fuzz linux x64 x86; do
    echo "== testing $preset"
    log="$(mktemp)"
    ctest --preset "$preset" 2>&1 | tee "$log"
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [ -z "$summary" ]; then
        echo "no test summary from the $preset tests"
        failed=$((failed + 1))
    else
        total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
        bad=$(echo "$summary" | sed -E 's/.*, ([0-9]+) tests? failed.*/\1/')
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    fi
    rm -f "$log"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
