"""The measurements of bench/splash.sh (run it, not this file)."""

import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

import harness  # noqa: E402
import images  # noqa: E402
from harness import AppFolder, launcher_settings  # noqa: E402

COLOUR = (40, 120, 200)
WIDTH, HEIGHT = 320, 200
SCREEN = (1280, 1024)


def app_folder(splash, create_sleep_ms=0, launcher=None):
    app = AppFolder("app")
    if launcher:
        app.install_program(launcher, "App.exe")
    else:
        app.install_launcher()
    app.write_file("app.jar", b"")
    # With a splash, main runs a moment, so that the splash is up long enough
    # to be seen even when the virtual machine is created at once.
    app.add_runtime("jre", cfg={"create_sleep_ms": create_sleep_ms, "sleep_ms": 300 if splash else 0})
    display = []
    if splash:
        app.write_file("splash.bmp", images.bmp(images.solid(WIDTH, HEIGHT, COLOUR)))
        display = [("Display", {"Splash Screen": harness.to_windows_path(app.file("splash.bmp"))})]
    app.write_ini(launcher_settings(main_class="standin.Sleeps" if splash else "standin.Records", more=display))
    return app


def baseline_folder(program):
    """The splash baseline beside the same bitmap; it shows it for 300 ms."""
    app = AppFolder("baseline")
    app.install_program(program, "Baseline.exe")
    app.write_file("splash.bmp", images.bmp(images.solid(WIDTH, HEIGHT, COLOUR)))
    app.args = [harness.to_windows_path(app.file("splash.bmp"))]
    return app


def one_run(app, watch):
    request = []
    if watch:
        request.append(("watch_pixel", "%d,%d,%02X%02X%02X" % ((SCREEN[0] // 2, SCREEN[1] // 2) + COLOUR)))
    r = app.run(args=getattr(app, "args", ()), request=request, timeout=60)
    if r.exit_code != 0 or r.timed_out:
        sys.exit("splash bench: a run failed: %r" % r)
    times = {e["event"]: e["t_us"] / 1000.0 for e in r.records if "t_us" in e}
    if watch:
        if r.watch_pixel_us is None:
            sys.exit("splash bench: the splash never showed its colour: %r" % r)
        times["paint"] = r.watch_pixel_us / 1000.0
    times["elapsed"] = r.raw["elapsed_ms"]
    return times


def medians(samples, keys):
    return {k: statistics.median(s[k] for s in samples) for k in keys}


def spread(samples, key):
    values = sorted(s[key] for s in samples)
    return "%.1f-%.1f" % (values[0], values[-1])


def main():
    runs = int(sys.argv[1])
    base_launcher, baseline = sys.argv[2], sys.argv[3]
    earlier_launcher = sys.argv[4] if len(sys.argv) > 4 else None
    fast, slow = app_folder(True), app_folder(True, create_sleep_ms=2000)
    plain_new, plain_old = app_folder(False), app_folder(False, launcher=base_launcher)
    # The first paints, alternated run by run.
    painters = [("fast", fast), ("baseline", baseline_folder(baseline))]
    if earlier_launcher:
        painters.append(("earlier", app_folder(True, launcher=earlier_launcher)))
    for app, watch in [(slow, True), (plain_new, False), (plain_old, False)] + [(a, True) for _, a in painters]:
        one_run(app, watch)  # warm-up: Wine, file cache
    results = {"fast": [], "slow": [], "new": [], "old": [], "baseline": [], "earlier": []}
    print("timing %d runs of each..." % runs)
    for i in range(runs):
        for name, app in painters[i % len(painters):] + painters[:i % len(painters)]:
            results[name].append(one_run(app, True))
        results["slow"].append(one_run(slow, True))
        # Alternate which no-splash launcher goes first.
        order = (("new", plain_new), ("old", plain_old)) if i % 2 == 0 else (("old", plain_old), ("new", plain_new))
        for name, app in order:
            results[name].append(one_run(app, False))

    print()
    print("medians over %d runs, milliseconds from process start (Wine, stand-in runtime)" % runs)
    print("%-44s %10s %12s %10s %14s %16s" % ("", "1st paint", "jvm.dll in", "main", "paint spread",
                                                 "paint before in"))
    rows = [("fast", "splash, VM created at once"), ("slow", "splash, VM creation takes 2 s")]
    if earlier_launcher:
        rows.append(("earlier", "splash of the earlier build, at once"))
    for key, label in rows:
        m = medians(results[key], ("paint", "loaded", "main"))
        before = sum(1 for s in results[key] if s["paint"] < s["loaded"])
        print("%-44s %10.1f %12.1f %10.1f %14s %10d of %d" % (label, m["paint"], m["loaded"], m["main"],
                                                          spread(results[key], "paint"), before, runs))
    paint = medians(results["baseline"], ("paint",))["paint"]
    print("%-44s %10.1f %12s %10s %14s" % ("a program that only shows the bitmap", paint, "", "",
                                           spread(results["baseline"], "paint")))
    ratio = medians(results["fast"], ("paint",))["paint"] / paint
    print("first paint, launcher / that program: %.2f" % ratio)
    if earlier_launcher:
        print("first paint, earlier build / that program: %.2f"
              % (medians(results["earlier"], ("paint",))["paint"] / paint))
    print()
    print("%-44s %12s %10s %10s" % ("no splash", "jvm.dll in", "main", "whole run"))
    for key, label in (("new", "this build"), ("old", "before the splash screen")):
        m = medians(results[key], ("loaded", "main", "elapsed"))
        print("%-44s %12.1f %10.1f %10.1f" % (label, m["loaded"], m["main"], m["elapsed"]))
    print()
    for label, path in (("this build", harness.launcher_path()), ("before", base_launcher)):
        dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], capture_output=True, text=True).stdout
        dlls = [line.split("DLL Name:")[1].strip() for line in dump.splitlines() if "DLL Name:" in line]
        print("%-12s %7d bytes, imports %s" % (label, os.path.getsize(path), ", ".join(dlls)))


if __name__ == "__main__":
    main()
