#!/usr/bin/env bash
# The Linux part of the demo: the sample application started by the Linux
# launcher with Debian's OpenJDK 17, from the same settings as on Windows
# (its built-in settings and HelloApp.ini joined into one file, since the
# Linux executable carries none), a copy with the start-up cache launched
# twice; then, on a private Xvfb, its splash screen,
# a second launch handing its arguments to the running first one, and the
# dialog that asks for a runtime (screens saved as build/demo/linux-*.png).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
jdk="${JDK_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}"

echo "== building the Linux launcher"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 >/dev/null
cmake --preset x86 >/dev/null
cmake --build --preset x86 -j2 --target sample_jar >/dev/null

demo="$repo/build/demo/linux"
app="$demo/HelloApp"
rm -rf "$demo"
mkdir -p "$app/lib" "$demo/tmp"
cp dist/linux-x64/launcher "$app/HelloApp"
cp build/x86/sample/hello.jar "$app/lib/hello.jar"
python3 - sample/HelloApp.builtin.ini sample/HelloApp.ini "$app/HelloApp.ini" <<'PY'
import sys
# The file beside the executable wins over the built-in values, key by key.
sections, order = {}, []
for name in sys.argv[1:3]:
    section = None
    for line in open(name, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith("["):
            section = line
            if section not in sections:
                sections[section] = {}
                order.append(section)
        elif section and "=" in line and not line.startswith(";"):
            key, value = line.split("=", 1)
            sections[section][key] = value
with open(sys.argv[3], "w", encoding="utf-8", newline="\r\n") as out:
    for section in order:
        out.write(section + "\n")
        for key, value in sections[section].items():
            out.write("%s=%s\n" % (key, value))
PY
echo "== settings: $app/HelloApp.ini (CRLF, Windows paths: the same file serves both systems)"
sed 's/\r$//; s/^/   /' "$app/HelloApp.ini"

echo
echo "== running: HelloApp \"first arg\" 日本  (JAVA_HOME=$jdk, TEMP=$demo/tmp, no display)"
code=0
env -u DISPLAY -u WAYLAND_DISPLAY JAVA_HOME="$jdk" TEMP="$demo/tmp" LC_ALL=C.UTF-8 "$app/HelloApp" "first arg" 日本 || code=$?
echo "-- what main printed (\"Output File\" sends it to %TEMP%\\HelloApp\\out.log):"
sed 's/^/   /' "$demo/tmp/HelloApp/out.log"
echo "-- exit code: $code"
status=0
[ "$code" = 0 ] && grep -q '\[日本\]' "$demo/tmp/HelloApp/out.log" || status=1

echo
echo "== running a copy whose settings ask for a runtime the machine lacks (Minimum Version=99)"
mkdir -p "$demo/NoRuntimeApp/lib"
cp "$app/HelloApp" "$demo/NoRuntimeApp/HelloApp"
sed 's/^Minimum Version=.*/Minimum Version=99/' "$app/HelloApp.ini" > "$demo/NoRuntimeApp/HelloApp.ini"
code=0
env -u DISPLAY -u WAYLAND_DISPLAY "$demo/NoRuntimeApp/HelloApp" 2> "$demo/no-runtime.txt" || code=$?
echo "-- standard error:"
sed 's/^/   /' "$demo/no-runtime.txt"
echo "-- exit code: $code"
[ "$code" = 255 ] && grep -q 'was not found' "$demo/no-runtime.txt" || status=1

echo
echo "== a copy with \"Start-up Cache=auto\": the first launch lists the classes it loads, a detached"
echo "   creator makes an archive of them after it, the second launch starts from that archive"
mkdir -p "$demo/CachedApp/lib"
cp "$app/HelloApp" "$demo/CachedApp/HelloApp"
cp "$app/lib/hello.jar" "$demo/CachedApp/lib/hello.jar"
sed 's/^\[Java Runtime Environment\]\r$/&\nStart-up Cache=auto\r/' "$app/HelloApp.ini" > "$demo/CachedApp/HelloApp.ini"
cached() {
    env -u DISPLAY -u WAYLAND_DISPLAY JAVA_HOME="$jdk" TEMP="$demo/tmp" XDG_CACHE_HOME="$demo/cache" \
        VEDA_LAUNCHER_TRACE="$demo/cache-trace.txt" "$demo/CachedApp/HelloApp" "$@"
}
for launch in first second; do
    rm -f "$demo/cache-trace.txt"
    start=$(date +%s%N)
    code=0
    cached "$launch launch" || code=$?
    echo "-- $launch launch: exit code $code in $(( ($(date +%s%N) - start) / 1000000 )) ms; the trace says:"
    grep -o 'startup cache decision="[^"]*" reason="[^"]*"' "$demo/cache-trace.txt" | sed 's/^/   /' || true
    [ "$code" = 0 ] || status=1
    if [ "$launch" = first ]; then
        # The creator runs at the lowest priority after the program; its job file goes last.
        for _ in $(seq 600); do
            [ -n "$(find "$demo/cache" -name '*.rec' 2>/dev/null)" ] &&
                [ -z "$(find "$demo/cache" -name '*.job' 2>/dev/null)" ] && break
            sleep 0.1
        done
        echo "-- the cache folder after the creation:"
        (cd "$demo/cache" && find . -type f -printf '   %p  %s bytes\n') || status=1
    fi
done
grep -q 'decision="use the archive"' "$demo/cache-trace.txt" || status=1

echo
echo "== a restart on request: HelloApp --heap=1536 writes the user's options file and exits with 75"
echo "   (\"Restart Exit Code=75\"); the launcher starts it again, which reads the file anew"
mkdir -p "$demo/RestartApp/lib"
cp "$app/HelloApp" "$demo/RestartApp/HelloApp"
cp "$app/lib/hello.jar" "$demo/RestartApp/lib/hello.jar"
# Its output on the terminal, so that both runs show.
grep -v '^Output File=\|^Error File=' "$app/HelloApp.ini" > "$demo/RestartApp/HelloApp.ini"
rm -rf "$demo/config"
code=0
env -u DISPLAY -u WAYLAND_DISPLAY JAVA_HOME="$jdk" XDG_CONFIG_HOME="$demo/config" LC_ALL=C.UTF-8 \
    "$demo/RestartApp/HelloApp" --heap=1536 > "$demo/restart.txt" || code=$?
grep -E "^Maximum heap|^User's options file|restarting" "$demo/restart.txt" | sed 's/^/   /'
echo "-- the user's options file:"
sed 's/^/   /' "$demo/config/Hello App/1.0/HelloApp.vmoptions"
echo "-- exit code: $code"
[ "$code" = 0 ] && [ "$(grep -c '^Maximum heap' "$demo/restart.txt")" = 2 ] || status=1

echo
echo "== on a desktop (a private Xvfb)"
python3 scripts/demo_linux_desktop.py "$demo" "$jdk" || status=1
exit $status
