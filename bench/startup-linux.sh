#!/usr/bin/env bash
# Start-up of the Linux launcher against the java command.
#
#   bash bench/startup-linux.sh [runs]      (default 21 runs of each)
#
# For each real runtime on the machine (Debian's OpenJDK 17, and a runtime
# of 25 or later under /usr/lib/jvm when there is one), starts a trivial
# program through dist/linux-x64/launcher and through `<runtime>/bin/java -cp
# … Trivial` with the same runtime and options, alternated run by run. Shows
# the medians (with the lowest and highest run) of the time from process
# start to the first line of main and of the whole run, and the ratio
# launcher / java.
#
#   bash bench/startup-linux.sh --paired [pairs]   (default 31 pairs)
#
# The paired mode: the launcher with a valid cache and java, alternated in
# pairs (the first of a pair alternates), the Swing program's first window;
# the ratio per pair, its median and how many pairs the launcher won; then
# the same for a recording launch (from an empty cache) against java.
#
# Needs the linux preset built (cmake --preset linux && cmake --build --preset linux).
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode=()
if [ "${1:-}" = "--paired" ]; then
    mode=(--paired)
    shift
    runs="${1:-31}"
else
    runs="${1:-21}"
fi
case "$runs" in
    '' | *[!0-9]* | 0) echo "usage: bash bench/startup-linux.sh [--paired] [runs]" >&2; exit 2 ;;
esac
exec python3 "$repo/bench/linux/startup_linux.py" "${mode[@]}" "$runs"
