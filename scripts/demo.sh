#!/usr/bin/env bash
# Builds the launcher and the sample application, lays out a ready
# application folder (build/demo/HelloApp) with HelloApp.exe branded by
# brand-launcher (icon, version information, built-in settings), runs it
# under Wine with the test stand-in runtime as its bundled jre\, then shows
# what the launcher did and what Windows reads from the executable.
# A second copy without a runtime (build/demo/NoRuntimeApp) shows the dialog
# that asks for one: the demo reads it, saves a screenshot and cancels it.
# Then scripts/demo_linux.sh runs the sample with the Linux launcher and
# Debian's OpenJDK 17; last, package-app makes the sample's deliveries for
# Windows and Linux from sample/HelloApp.package.ini.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

bash scripts/install-deps.sh
echo "== building the launcher and the sample application"
cmake --preset x86 >/dev/null
cmake --build --preset x86 -j2 >/dev/null
echo "== building brand-launcher for this machine"
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target brand-launcher >/dev/null

app="$repo/build/demo/HelloApp"
rm -rf "$app"
mkdir -p "$app/lib" "$app/jre/bin/client"
python3 sample/make_icon.py "$repo/build/demo/HelloApp.ico"
echo "== branding HelloApp.exe"
dist/host/brand-launcher dist/x86/launcher.exe "$app/HelloApp.exe" \
    --icon "$repo/build/demo/HelloApp.ico" --settings sample/HelloApp.builtin.ini \
    --file-version 1.0.0.0 --product-version 1.0 --product-name "Hello App" \
    --company "Example Company" --description "Hello App" \
    --copyright "Copyright (C) Example Company" --original-filename HelloApp.exe
cp sample/HelloApp.ini "$app/HelloApp.ini"
cp build/x86/sample/hello.jar "$app/lib/hello.jar"
# The stand-in runtime records what it is asked to do instead of running Java.
: > "$app/jre/bin/java.dll"
cp build/x86/tests/standin/jvm.dll "$app/jre/bin/client/jvm.dll"
# Its main waits until the runner has looked at the splash screen.
printf 'records_as=demo/HelloApp\nmain_prints=1\nwait_file=%s\n' "$(printf 'Z:%s' "$app/splash-seen" | tr '/' '\\')" \
    > "$app/jre/bin/client/standin.cfg"
# A splash image with soft, transparent edges, and the settings that show it.
python3 - "$app/splash.png" <<'PY'
import math, sys
sys.path.insert(0, "tests/e2e")
import images
w, h, r = 360, 200, 28
rows = []
for y in range(h):
    row = []
    for x in range(w):
        # Distance outside a rounded rectangle: opaque inside, fading out over 8 pixels.
        dx, dy = max(r - x, x - (w - 1 - r), 0), max(r - y, y - (h - 1 - r), 0)
        edge = math.hypot(dx, dy) - (r - 8)
        alpha = 255 if edge <= 0 else max(0, int(255 * (1 - edge / 8)))
        shade = y / h
        colour = (int(30 + 40 * shade), int(90 + 80 * shade), int(200 - 60 * shade))
        row.append(colour + (alpha,))
    rows.append(row)
open(sys.argv[1], "wb").write(images.png(rows))
PY
printf '\r\n[Display]\r\nSplash Screen=%s\r\nSplash Screen Shadow=true\r\n' \
    "$(printf 'Z:%s' "$app/splash.png" | tr '/' '\\')" >> "$app/HelloApp.ini"
# TEMP for the run, so that the output files land where this script shows them.
temp="$repo/build/demo/temp"
rm -rf "$temp"
mkdir -p "$temp"

# shellcheck source=../tests/e2e/wine_env.sh
. tests/e2e/wine_env.sh ""
wine_env_start || { echo "the Wine environment could not be started" >&2; exit 1; }
trap 'wine_env_stop' EXIT

to_windows() { printf 'Z:%s' "$1" | tr '/' '\\'; }
request="$repo/build/demo/request.txt"
result="$repo/build/demo/result.json"
rm -f "$result"
{
    printf 'exe=%s\n' "$(to_windows "$app/HelloApp.exe")"
    printf 'cmdline="%s" first "second argument"\n' "$(to_windows "$app/HelloApp.exe")"
    printf 'cwd=%s\n' "$(to_windows "$app")"
    printf 'result=%s\n' "$(to_windows "$result")"
    printf 'timeout_ms=60000\n'
    printf 'env=TEMP=%s\n' "$(to_windows "$temp")"
    # The runner looks at the splash while main waits, saves the screen and lets main go on.
    printf 'probe_class=SplashScreenWindow\n'
    printf 'screenshot=%s\n' "$(to_windows "$repo/build/demo/splash-screen.bmp")"
    printf 'signal=%s\n' "$(to_windows "$app/splash-seen")"
} > "$request"
echo "== running HelloApp.exe first \"second argument\" under Wine"
wine build/x86/tests/e2e/e2e_runner.exe "$(to_windows "$request")" >/dev/null 2>&1 </dev/null || true
brand="$repo/build/demo/brand.json"
wine build/x86/tests/e2e/e2e_brandcheck.exe "$(to_windows "$app/HelloApp.exe")" "$(to_windows "$brand")" \
    >/dev/null 2>&1 </dev/null || true
status=0
python3 scripts/demo_report.py "$result" "$app/jre/bin/client/standin.log" "$app" "$temp" "$brand" || status=1
python3 - "$result" "$repo/build/demo/splash-screen.bmp" <<'PY'
import json, sys
probe = json.load(open(sys.argv[1], encoding="utf-8")).get("probe")
if probe:
    print("Splash screen:      window %s at %s; the screen while main ran: %s" % (
        probe["class"], probe["rect"], sys.argv[2]))
else:
    print("Splash screen:      not seen")
PY
python3 scripts/demo_hand_over.py "$app" "$repo/build/x86/tests/e2e/e2e_runner.exe" || status=1

# A restart on request: the stand-in plays the program's settings screen: it
# writes -Xmx1536m into the user's options file (the launcher names it in
# veda.launcher.vmoptions) and exits with "Restart Exit Code" (75); the
# first process starts the program again, which now reads that file.
again="$repo/build/demo/RestartApp"
rm -rf "$again"
mkdir -p "$again"
cp -r "$app/HelloApp.exe" "$app/HelloApp.ini" "$app/lib" "$app/jre" "$again/"
rm -f "$again/jre/bin/client/standin.log"
printf 'records_as=demo/HelloApp\nexit_runs=1\nexit_code=75\nwrite_vmoptions=-Xmx1536m\n' \
    > "$again/jre/bin/client/standin.cfg"
{
    printf 'exe=%s\n' "$(to_windows "$again/HelloApp.exe")"
    printf 'cmdline="%s" --heap=1536\n' "$(to_windows "$again/HelloApp.exe")"
    printf 'cwd=%s\n' "$(to_windows "$again")"
    printf 'result=%s\n' "$(to_windows "$repo/build/demo/restart.json")"
    printf 'timeout_ms=60000\n'
    printf 'env=TEMP=%s\n' "$(to_windows "$temp")"
    printf 'env=APPDATA=%s\n' "$(to_windows "$repo/build/demo/appdata")"
} > "$request"
rm -rf "$repo/build/demo/appdata"
echo
echo "== a restart on request: HelloApp.exe --heap=1536 (\"Restart Exit Code=75\")"
wine build/x86/tests/e2e/e2e_runner.exe "$(to_windows "$request")" >/dev/null 2>&1 </dev/null || true
python3 - "$repo/build/demo/restart.json" "$again/jre/bin/client/standin.log" <<'PY' || status=1
import json, sys
result = json.load(open(sys.argv[1], encoding="utf-8"))
records = [json.loads(line) for line in open(sys.argv[2], encoding="utf-8")]
runs = [r for r in records if r.get("event") == "create"]
for number, run in enumerate(runs, 1):
    heap = [o for o in run["options"] if o.startswith("-Xmx")]
    print("-- run %d (process %d): heap options %s" % (number, run["pid"], " ".join(heap)))
    for r in records:
        if r.get("pid") == run["pid"] and r.get("event") in ("wrote_options", "exit_hook"):
            print("   %s" % ("wrote the user's options file: " + r["line"] if r["event"] == "wrote_options"
                              else "System.exit(%d)" % r["code"]))
print("-- exit code of the launch: %d" % result["exit_code"])
sys.exit(0 if len(runs) == 2 and "-Xmx1536m" in runs[1]["options"] and result["exit_code"] == 0 else 1)
PY

# The same application without a bundled runtime, on a machine without any:
# the launcher asks the user for a runtime folder.
bare="$repo/build/demo/NoRuntimeApp"
rm -rf "$bare"
mkdir -p "$bare/lib"
cp "$app/HelloApp.exe" "$bare/HelloApp.exe"
cp sample/HelloApp.ini "$bare/HelloApp.ini"
cp build/x86/sample/hello.jar "$bare/lib/hello.jar"
echo
echo "== running a copy without a runtime: build/demo/NoRuntimeApp/HelloApp.exe"
E2E_RUNNER="$repo/build/x86/tests/e2e/e2e_runner.exe" E2E_WORK="$repo/build/demo/work" \
    python3 scripts/demo_report.py --dialog "$bare" "$repo/build/demo/no-runtime-dialog.png" || status=1

# The console build as a command-line tool: the stand-in plays a program that
# prints its arguments and copies its standard input to its standard output.
# (wine quotes an argument with a blank as a whole, as the launcher wants.)
tool="$repo/build/demo/EchoTool"
rm -rf "$tool"
mkdir -p "$tool/lib" "$tool/jre/bin/client"
cp dist/x86/launcher-console.exe "$tool/EchoTool.exe"
printf '[Java Runtime Environment]\r\nMain Class=standin.Echo\r\n[Class Path]\r\nClass Path=\\lib\\echo.jar\r\n' > "$tool/EchoTool.ini"
: > "$tool/lib/echo.jar"
: > "$tool/jre/bin/java.dll"
cp build/x86/tests/standin/jvm.dll "$tool/jre/bin/client/jvm.dll"
echo
echo "== console build: printf 'one line\\ntwo lines\\n' | EchoTool.exe \"--opt=a b\" plain"
code=0
printf 'one line\ntwo lines\n' | wine "$tool/EchoTool.exe" '--opt=a b' plain > "$repo/build/demo/echo-out.txt" \
    2> "$repo/build/demo/echo-err.txt" || code=$?
echo "-- standard output:"
cat "$repo/build/demo/echo-out.txt"
echo "-- exit code: $code"
[ "$code" = 0 ] && grep -q -- '--opt=a b' "$repo/build/demo/echo-out.txt" || status=1
rm -rf "$tool/jre"
echo "== console build without a runtime: EchoTool.exe"
code=0
wine "$tool/EchoTool.exe" < /dev/null > /dev/null 2> "$repo/build/demo/echo-err.txt" || code=$?
echo "-- standard error:"
cat "$repo/build/demo/echo-err.txt"
echo "-- exit code: $code (the low byte of -1, as Wine gives it to a Unix shell)"
[ "$code" = 255 ] && grep -q 'was not found' "$repo/build/demo/echo-err.txt" || status=1

# The same application on Linux, really running Java.
echo
bash scripts/demo_linux.sh || status=1

# One command makes every delivery of the sample (it needs the Linux
# launcher, which demo_linux.sh has built).
echo
echo "== packaging the sample program: package-app HelloApp.package.ini"
cmake --build --preset host -j2 --target package-app >/dev/null
cmake --preset x64 >/dev/null
cmake --build --preset x64 -j2 --target launcher >/dev/null
input="$repo/build/demo/package"
rm -rf "$input"
mkdir -p "$input"
cp sample/HelloApp.package.ini build/x86/sample/hello.jar "$input/"
python3 sample/make_icon.py "$input/HelloApp.png"
packages="$repo/build/demo/packages"
[ -f "$packages/.package-app" ] || rm -rf "$packages"
if JAVA_HOME="${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}" dist/host/package-app "$input/HelloApp.package.ini" \
        --output "$packages" > "$repo/build/demo/package-log.txt"; then
    echo "-- the packages of the sample program:"
    sed -n '/^the packages of/,$p' "$repo/build/demo/package-log.txt" | tail -n +2
else
    cat "$repo/build/demo/package-log.txt"
    status=1
fi
exit $status
