#!/usr/bin/env python3
"""The demo's single-instance part: a copy of the demo folder with "Single
Instance=yes". A first launch runs (its main keeps running); a second launch
with two documents hands them over and exits with secondaryMain's answer.

    demo_hand_over.py <demo application folder> <runner exe>
"""
import json
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))


def main(source, runner):
    os.environ["E2E_RUNNER"] = runner
    import harness

    folder = os.path.join(os.path.dirname(source), "SingleApp")
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(source, folder)
    ini = os.path.join(folder, "HelloApp.ini")
    with open(ini, encoding="utf-8") as f:
        text = f.read()
    with open(ini, "w", encoding="utf-8") as f:
        f.write(text.replace("[Application]\n", "[Application]\nSingle Instance=yes\n"))
    runtime = harness.Runtime(os.path.join(folder, "jre"), "client")
    # The stand-in plays the sample's secondaryMain: it records the arguments
    # and answers their number, as HelloApp.secondaryMain does.
    runtime.write_cfg({"secondary_as": "demo/HelloApp", "main_waits_ms": 60000,
                       "secondary_result_from_args": 2})
    if os.path.exists(runtime.log):
        os.unlink(runtime.log)
    exe = os.path.join(folder, "HelloApp.exe")

    print("== single instance: %s with \"Single Instance=yes\"" % folder)
    first = harness.start_program(exe, ["first"], timeout=90, cwd=folder)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and not any(r.get("event") == "main" for r in runtime.records()):
        time.sleep(0.1)
    print("first launch:  HelloApp.exe first                 -> main is running")
    second = harness.run_program(exe, ["notes.txt", "second document.txt"], timeout=60, cwd=folder)
    handed = [r["args"] for r in runtime.records() if r.get("event") == "secondary_main"]
    print("second launch: HelloApp.exe notes.txt \"second document.txt\"")
    print("  secondaryMain of the running instance received:", json.dumps(handed, ensure_ascii=False))
    print("  the second launch exited with secondaryMain's answer:", second.exit_code)
    loads = [r for r in runtime.records() if r.get("event") == "loaded"]
    print("  runtimes loaded by both launches together:", len(loads))
    open(os.path.join(runtime.dll_dir, "standin.stop"), "w").close()
    print("first launch ended with", first.wait().exit_code)
    return 0 if handed == [["notes.txt", "second document.txt"]] and second.exit_code == 2 else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
