#!/usr/bin/env bash
# The Linux part of the demo: the sample application started by the Linux
# launcher with Debian's OpenJDK 17, from the same settings as on Windows
# (its built-in settings and HelloApp.ini joined into one file, since the
# Linux executable carries none); then, on a private Xvfb, its splash screen,
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
echo "== on a desktop (a private Xvfb)"
python3 scripts/demo_linux_desktop.py "$demo" "$jdk" || status=1
exit $status
