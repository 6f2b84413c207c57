#!/usr/bin/env bash
# Runs the end-to-end tests under Wine: prepares the Wine environment, builds
# the bench programs unless E2E_RUNNER points at a built runner, runs every
# tests/e2e/test_*.py and exits with unittest's status.
#
# Extra arguments go to unittest (e.g. -k launcher).
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"

# The empty argument keeps this script's own arguments from being taken
# for a prefix folder.
# shellcheck source=wine_env.sh
. "$here/wine_env.sh" ""

if [ -z "${E2E_RUNNER:-}" ]; then
    bench_build="$BUILD_ROOT/e2e"
    cmake -S "$here" -B "$bench_build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
    cmake --build "$bench_build" -j2 >/dev/null || {
        cmake --build "$bench_build" -j1   # again, to show the errors
        exit 1
    }
    export E2E_RUNNER="$bench_build/e2e_runner.exe"
fi

wine_env_start || exit 1
trap 'wine_env_stop' EXIT
trap 'exit 130' INT TERM

cd "$repo" || exit 1
python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v "$@"
status=$?
exit "$status"
