#!/usr/bin/env bash
# Splash screen timings under Wine, with the stand-in runtime.
#
#   bash bench/splash.sh [runs]        (default 21 runs of each measurement)
#
# Medians of:
#   1. process start -> the splash's first paint (a screen pixel at the
#      window's centre shows the image's colour), and -> the first call into
#      jvm.dll (the stand-in's entry point runs);
#   2. the same with the stand-in's VM creation made slow (2 s): the first
#      paint must not wait for the virtual machine;
#   3. a launch without a splash, this build against the launcher built from
#      the commit before the splash screen (BENCH_BASE_COMMIT, default
#      7e36bb7), alternated run by run: process start -> main called, and
#      the whole run;
#   4. the first paint of the same bitmap by bench/baseline_splash_win32.cpp,
#      a program that only shows it in a window, alternated with run 1; with
#      BENCH_SPLASH_COMMIT set, also the first paint of the launcher built
#      from that commit (an earlier splash), in the same alternation.
# Needs the x86 build (cmake --build --preset x86). The older launchers are
# built from `git archive` of their commits into build/bench-splash; the
# splash baseline is compiled here, as bench/startup.sh compiles its baseline.
set -uo pipefail

runs="${1:-21}"
case "$runs" in
    '' | *[!0-9]* | 0) echo "usage: bash bench/splash.sh [runs]" >&2; exit 2 ;;
esac
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$repo/build/bench-splash"
base_commit="${BENCH_BASE_COMMIT:-7e36bb7}"
die() { echo "splash.sh: $*" >&2; exit 1; }

for f in dist/x86/launcher.exe build/x86/tests/standin/jvm.dll build/x86/tests/e2e/e2e_runner.exe; do
    [ -f "$repo/$f" ] || die "$f is missing: build the x86 preset first"
done
mkdir -p "$work" || exit 1

# The launcher of a commit, built into $work/<folder> unless it is there.
launcher_of() {
    local folder="$work/$1" commit="$2"
    if [ ! -f "$folder/dist/x86/launcher.exe" ] || [ "$(cat "$folder/commit" 2>/dev/null)" != "$commit" ]; then
        echo "building the launcher of commit $commit..." >&2
        rm -rf "$folder" && mkdir -p "$folder" || exit 1
        git -C "$repo" archive "$commit" | tar -x -C "$folder" || die "cannot extract $commit"
        (cd "$folder" && cmake --preset x86 -DBUILD_TESTING=OFF >/dev/null &&
            cmake --build --preset x86 -j2 --target launcher >/dev/null) || die "cannot build the launcher of $commit"
        echo "$commit" >"$folder/commit"
    fi
}

# The launcher as it was before the splash screen, for the no-splash comparison.
launcher_of base "$base_commit"
base="$work/base"
earlier=""
if [ -n "${BENCH_SPLASH_COMMIT:-}" ]; then
    launcher_of earlier "$BENCH_SPLASH_COMMIT"
    earlier="$work/earlier/dist/x86/launcher.exe"
fi

# The splash baseline links no C runtime, like the start-up baseline.
baseline="$work/baseline_splash.exe"
if [ ! -f "$baseline" ] || [ "$repo/bench/baseline_splash_win32.cpp" -nt "$baseline" ]; then
    i686-w64-mingw32-g++-posix -std=c++17 -Os -static -s -mwindows -nostdlib -nostartfiles \
        -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-tree-loop-distribute-patterns \
        -Wall -Wextra -Wl,-e,_baselineSplashStart \
        -o "$baseline" "$repo/bench/baseline_splash_win32.cpp" -lkernel32 -luser32 -lgdi32 \
        || die "cannot build the splash baseline"
fi

export E2E_RUNNER="$repo/build/x86/tests/e2e/e2e_runner.exe"
export E2E_STANDIN_X86="$repo/build/x86/tests/standin/jvm.dll"
export E2E_DIST="$repo/dist"
export E2E_WORK="$work/cases"
rm -rf "$E2E_WORK"
# shellcheck source=../tests/e2e/wine_env.sh
. "$repo/tests/e2e/wine_env.sh" ""
wine_env_start || die "no Wine environment"
trap 'wine_env_stop' EXIT
python3 "$repo/bench/splash_bench.py" "$runs" "$base/dist/x86/launcher.exe" "$baseline" $earlier
