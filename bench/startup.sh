#!/usr/bin/env bash
# Start-up overhead of the launcher under Wine.
#
#   bash bench/startup.sh [runs]        (default 25 runs of each program)
#
# Times the whole 32-bit launcher (dist/x86/launcher.exe) starting the
# stand-in runtime, whose VM creation and main method return at once, against
# bench/baseline_win32.cpp: a program that makes the same invocation calls on
# the same stand-in directly, with no settings, no search and no extra thread.
# The difference is what the launcher itself costs at start-up.
#
# Needs the x86 build (cmake --preset x86 && cmake --build build/x86 -j2) for
# the launcher and the stand-in; the baseline is compiled here. Work files and
# a private Wine prefix go to build/bench (BENCH_WINEPREFIX overrides the
# prefix; its first creation takes a minute).
set -uo pipefail

runs="${1:-25}"
case "$runs" in
    '' | *[!0-9]* | 0) echo "usage: bash bench/startup.sh [runs]  (runs: a positive number)" >&2; exit 2 ;;
esac

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$repo/build/bench"
launcher_x86="$repo/dist/x86/launcher.exe"
launcher_x64="$repo/dist/x64/launcher.exe"
standin="$repo/build/x86/tests/standin/jvm.dll"
jdk_include="${JDK_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}/include"
cxx=i686-w64-mingw32-g++-posix
objdump=i686-w64-mingw32-objdump

die() { echo "startup.sh: $*" >&2; exit 1; }

for f in "$launcher_x86" "$standin"; do
    [ -f "$f" ] || die "$f is missing: build the x86 preset first"
done
[ -f "$jdk_include/jni.h" ] || die "no jni.h in $jdk_include (set JDK_HOME)"
command -v "$cxx" >/dev/null || die "$cxx is not installed"
mkdir -p "$work" || exit 1

# The baseline links no C runtime (-nostdlib, own entry point) so that it
# imports kernel32 and user32 only; the loops must not become strlen/memset.
baseline="$work/baseline.exe"
if [ ! -f "$baseline" ] || [ "$repo/bench/baseline_win32.cpp" -nt "$baseline" ]; then
    "$cxx" -std=c++17 -Os -static -s -mwindows -nostdlib -nostartfiles \
        -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-tree-loop-distribute-patterns \
        -Wall -Wextra -Wl,-e,_baselineStart \
        -I"$repo/vm/jni" -I"$jdk_include" \
        -o "$baseline" "$repo/bench/baseline_win32.cpp" -lkernel32 -luser32 \
        || die "cannot build the baseline"
fi

# One application folder serves both programs: the launcher as App.exe with
# its settings, and the baseline beside it. Both load the same stand-in, which
# logs one line per event for both alike.
app="$work/app"
rm -rf "$app"
mkdir -p "$app/jre/bin/client" || exit 1
cp "$launcher_x86" "$app/App.exe"
cp "$baseline" "$app/Baseline.exe"
cp "$standin" "$app/jre/bin/client/jvm.dll"
: >"$app/jre/bin/java.dll"
: >"$app/app.jar"
printf '[Java Runtime Environment]\r\nMain Class=standin.Records\r\n[Class Path]\r\nClass Path=\\app.jar\r\n' >"$app/App.ini"
log="$app/jre/bin/client/standin.log"
win_app="Z:${app//\//\\}"
win_jvm="$win_app\\jre\\bin\\client\\jvm.dll"

export WINEPREFIX="${BENCH_WINEPREFIX:-$work/wineprefix}"
# shellcheck source=../tests/e2e/wine_env.sh
. "$repo/tests/e2e/wine_env.sh" ""
wine_env_start || die "no Wine environment"
trap 'wine_env_stop' EXIT

out="$work/run.out"
mains=0

# run NAME: one run of a program, timed; appends the seconds to $work/NAME.times.
# A run counts only if it exits with 0 and reached main exactly once.
run() {
    local name=$1 t0 t1 code count
    local -a cmd
    # A failed launch waits on an error box that nobody answers: the time
    # limit ends it (it costs both programs the same small start-up).
    if [ "$name" = launcher ]; then
        cmd=(timeout -k 5 60 wine "$app/App.exe")
    else
        cmd=(timeout -k 5 60 wine "$app/Baseline.exe" "$win_jvm" "$class_path")
    fi
    # Output to a file and input from /dev/null: Wine's desktop process would
    # inherit a pipe and hold it open, which costs about a second per run.
    t0=$EPOCHREALTIME
    "${cmd[@]}" </dev/null >"$out" 2>&1
    code=$?
    t1=$EPOCHREALTIME
    count=$(grep -c '"event":"main"' "$log" 2>/dev/null)
    if [ "$code" -ne 0 ] || [ "${count:-0}" -ne $((mains + 1)) ]; then
        echo "startup.sh: $name run failed (exit code $code, main reached $(( ${count:-0} - mains )) times); output:" >&2
        cat "$out" >&2
        [ -f "$log" ] && tail -5 "$log" >&2
        exit 1
    fi
    mains=$count
    echo "$t0 $t1" | awk '{ printf "%.6f\n", $2 - $1 }' >>"$work/$name.times"
}

cd "$app" || exit 1
rm -f "$log" "$work/launcher.times" "$work/baseline.times"
echo "warming up (Wine, file cache)..."
run launcher
# The baseline gets the class path exactly as the launcher built it from its
# settings, so that both hand the runtime the same option.
class_path=$(python3 -c '
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    event = json.loads(line)
    if event["event"] == "create":
        print(next(o for o in event["options"] if o.startswith("-Djava.class.path="))[len("-Djava.class.path="):])
        break
' "$log") || die "no class path in the launcher's VM creation"
run baseline
for _ in 1 2; do
    run launcher
    run baseline
done
rm -f "$work/launcher.times" "$work/baseline.times"

echo "timing $runs runs of each, alternating..."
for i in $(seq 1 "$runs"); do
    # Alternate which goes first, so that neither always follows the other.
    if [ $((i % 2)) -eq 1 ]; then
        run launcher
        run baseline
    else
        run baseline
        run launcher
    fi
done

python3 - "$work" "$log" "$launcher_x86" "$launcher_x64" "$baseline" "$objdump" <<'EOF'
import json, os, statistics, subprocess, sys

work, log, x86, x64, baseline, objdump = sys.argv[1:]

def times(name):
    with open(os.path.join(work, name + ".times")) as f:
        return [float(line) for line in f if line.strip()]

# Both programs must have handed the runtime the same class path, or they
# did not do the same work.
class_paths = set()
with open(log, encoding="utf-8") as f:
    for line in f:
        event = json.loads(line)
        if event["event"] == "create":
            if event["result"] != 0:
                sys.exit("startup.sh: a VM creation failed: " + line)
            class_paths.update(o for o in event["options"] if o.startswith("-Djava.class.path="))
if len(class_paths) != 1:
    sys.exit("startup.sh: the programs passed different class paths: %s" % sorted(class_paths))

launcher, base = times("launcher"), times("baseline")
ms = lambda s: "%7.1f ms" % (s * 1000)
print()
print("runs of each: %d (all reached main, exit code 0)" % len(launcher))
print("%-10s %12s %12s %12s %12s" % ("", "median", "min", "max", "mean"))
for name, t in (("launcher", launcher), ("baseline", base)):
    print("%-10s %12s %12s %12s %12s" % (name, ms(statistics.median(t)), ms(min(t)), ms(max(t)), ms(statistics.mean(t))))
ratio = statistics.median(launcher) / statistics.median(base)
print("median ratio launcher/baseline: %.3f (overhead %+.1f ms)" %
      (ratio, (statistics.median(launcher) - statistics.median(base)) * 1000))
print("class path given: %s" % next(iter(class_paths)))
print()
for label, path in (("dist/x86/launcher.exe", x86), ("dist/x64/launcher.exe", x64), ("baseline.exe", baseline)):
    if not os.path.exists(path):
        print("%-22s missing" % label)
        continue
    dump = subprocess.run([objdump, "-p", path], capture_output=True, text=True).stdout
    if "DLL Name" not in dump:
        dump = subprocess.run([objdump.replace("i686", "x86_64"), "-p", path], capture_output=True, text=True).stdout
    dlls = [l.split("DLL Name:")[1].strip() for l in dump.splitlines() if "DLL Name:" in l]
    print("%-22s %7d bytes  imports %s" % (label, os.path.getsize(path), ", ".join(dlls)))
EOF
