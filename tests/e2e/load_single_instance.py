"""Load test of single instance: many second instances started at once.

    python3 load_single_instance.py [--size 50] [--burst 10]

Phase 1 starts `burst` launches together, so that one of them becomes the
first instance while the others are already handing over. Phase 2 starts
`size` further launches at once against that running first instance. Every
launch passes a list of its own (its number first); secondaryMain answers
that number. Every list must arrive exactly once and unmixed, and every
second instance must exit with its own number. Needs the Wine environment
(tests/e2e/wine_env.sh) and the built launcher and stand-in runtime, as the
other end-to-end modules do. Exit status 0 when nothing was lost or mixed.
"""

import argparse
import os
import shutil
import sys
import time

import harness

MAIN_WAITS_MS = 600000


def argument_list(number):
    # Several arguments, one with a blank and one beyond ASCII, so a mixed or
    # cut list shows.
    return [str(number), "doc-%d.txt" % number, "folder %d\\Äpp 日本" % number]


def run(size=50, burst=10, verbose=False):
    """Runs both phases; returns the list of problems found (empty: passed)."""
    folder = harness.AppFolder("load")
    try:
        folder.install_launcher()
        folder.write_file("app.jar", b"")
        rt = folder.add_runtime("jre", cfg={
            "main_waits_ms": MAIN_WAITS_MS,
            "secondary_result_from_args": 1,
            # A short call, so that requests queue up behind each other.
            "secondary_sleep_ms": 10,
        })
        folder.write_ini(harness.launcher_settings(main_class="standin.SecondaryInt",
                                                   app={"Single Instance": "yes"}))
        timeout = MAIN_WAITS_MS / 1000 + 60
        problems = []
        started = time.monotonic()

        def log(text):
            if verbose:
                print("[%6.1fs] %s" % (time.monotonic() - started, text), flush=True)

        # Phase 1: a burst, the first instance among it.
        runs = {n: folder.start(argument_list(n), timeout=timeout) for n in range(1, burst + 1)}
        deadline = time.monotonic() + 120
        mains = []
        while time.monotonic() < deadline and not mains:
            mains = [r for r in rt.records() if r.get("event") == "main"]
            time.sleep(0.2)
        if len(mains) != 1:
            return ["%d first instances ran main" % len(mains)]
        first_number = int(mains[0]["args"][0])
        first = runs.pop(first_number)
        log("burst of %d: %d is the first instance" % (burst, first_number))

        # Phase 2: the load against the running first instance.
        for n in range(burst + 1, burst + size + 1):
            runs[n] = folder.start(argument_list(n), timeout=timeout)
        log("%d more started" % size)
        for n, pending in sorted(runs.items()):
            result = pending.wait()
            if result.exit_code != n or result.timed_out or result.texts:
                problems.append("launch %d: exit code %r, timed out %r, boxes %r"
                                % (n, result.exit_code, result.timed_out, result.texts))
        log("all second instances ended")

        open(os.path.join(rt.dll_dir, "standin.stop"), "w").close()
        result = first.wait()
        if result.exit_code != 0:
            problems.append("first instance %d: exit code %r" % (first_number, result.exit_code))

        received = [r["args"] for r in rt.records() if r.get("event") == "secondary_main"]
        expected = [argument_list(n) for n in sorted(runs)]
        for args in expected:
            count = received.count(args)
            if count != 1:
                problems.append("list %r arrived %d times" % (args, count))
        for args in received:
            if args not in expected:
                problems.append("list %r was not sent by anyone" % (args,))
        loads = [r for r in rt.records() if r.get("event") == "loaded"]
        if len(loads) != 1:
            problems.append("%d processes loaded the runtime" % len(loads))
        log("%d lists checked" % len(expected))
        return problems
    finally:
        if os.environ.get("E2E_KEEP") != "1":
            shutil.rmtree(folder.case_dir, ignore_errors=True)


def main():
    # Run on its own, it finds the x86 build of this tree unless told otherwise.
    build = os.path.join(harness.REPO, "build", "x86")
    os.environ.setdefault("E2E_RUNNER", os.path.join(build, "tests", "e2e", "e2e_runner.exe"))
    os.environ.setdefault("E2E_STANDIN_X86", os.path.join(build, "tests", "standin", "jvm.dll"))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", type=int, default=50, help="second instances started at once")
    parser.add_argument("--burst", type=int, default=10, help="launches started together with the first")
    options = parser.parse_args()
    problems = run(options.size, options.burst, verbose=True)
    for problem in problems:
        print("FAIL:", problem)
    print("passed" if not problems else "%d problems" % len(problems))
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
