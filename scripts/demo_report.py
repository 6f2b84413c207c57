#!/usr/bin/env python3
"""Prints what the launcher did in the demo run, from the process result and
the stand-in runtime's record.

With --dialog FOLDER PICTURE it starts FOLDER's HelloApp.exe (which finds no
runtime), reads the dialog that asks for one, saves a screenshot of it as
PICTURE and cancels it, all without a person."""
import json
import os
import sys


def show_output_files(events, temp):
    """The redirection calls the runtime received and the files' contents."""
    for kind, label in (("set_out", "System.setOut to: "), ("set_err", "System.setErr to: ")):
        for e in events:
            if e.get("event") == kind:
                print(label, e["path"])
    if not temp:
        return
    for name in ("out.log", "err.log"):
        path = os.path.join(temp, "HelloApp", name)
        if os.path.isfile(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                print("%-19s" % ("%TEMP%\\HelloApp\\" + name + ":"), json.dumps(f.read(), ensure_ascii=False))
        else:
            print("%-19s" % (name + ":"), "(not created)")


def brand_report(brand_path):
    """What Windows reads from the branded HelloApp.exe."""
    try:
        with open(brand_path, encoding="utf-8") as f:
            brand = json.load(f)
    except (FileNotFoundError, ValueError):
        return
    version = brand.get("version") or {}
    strings = version.get("strings", {})
    icon = brand.get("icon") or {}
    print("HelloApp.exe as Windows reads it:")
    print("    Product:       ", strings.get("ProductName"), strings.get("ProductVersion"))
    print("    File version:  ", strings.get("FileVersion"), "-", strings.get("FileDescription"))
    print("    Company:       ", strings.get("CompanyName"), "/", strings.get("LegalCopyright"))
    print("    Icon images:   ", ", ".join("%dx%d" % (i["width"], i["height"]) for i in icon.get("images", [])))
    settings = brand.get("settings")
    print("    Built-in settings:", len(bytes.fromhex(settings)) if settings else 0, "bytes")


def main(result_path, record_path, folder, temp=None, brand_path=None):
    with open(result_path, encoding="utf-8") as f:
        result = json.load(f)
    events = []
    try:
        with open(record_path, encoding="utf-8") as f:
            events = [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        pass

    def first(kind):
        return next((e for e in events if e.get("event") == kind), None)

    print()
    print("Application folder:", folder)
    loaded = first("loaded")
    print("Runtime chosen:    ", loaded["path"] if loaded else "(none loaded)")
    create = first("create")
    if create:
        print("Virtual machine options, in order:")
        for option, extra in zip(create["options"], create["extra"]):
            print("   ", option + ("   (hook)" if extra else ""))
        stack = create.get("stack_reserve")
        print("VM thread stack:   ", stack, "bytes", "(not the main thread)" if not create.get("main_thread") else "")
    main_event = first("main")
    if main_event:
        app_classes = [e["name"] for e in events
                       if e.get("event") == "find_class" and not e["name"].startswith("java/")]
        print("Main class:        ", app_classes[0] if app_classes else main_event["class"])
        print("Arguments of main: ", json.dumps(main_event["args"], ensure_ascii=False))
    show_output_files(events, temp)
    for dialog in result.get("dialogs", []):
        print("Message box:       ", json.dumps(dialog.get("text"), ensure_ascii=False))
    print("Destroyed the VM:  ", "yes" if first("destroy") else "no")
    print("Exit code:         ", result.get("exit_code"))
    if brand_path:
        brand_report(brand_path)
    print()
    print("The bundled jre\\ here is a test stand-in that only records what the launcher")
    print("asks of it; no Java code runs. To run the sample for real, copy the folder to a")
    print("Windows machine and replace jre\\ with a Java runtime (or delete it and set")
    print('"JRE Path" in HelloApp.ini, or let the launcher find an installed runtime).')
    return 0 if result.get("exit_code") == 0 and main_event else 1


def missing_runtime_dialog(folder, picture):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
    import harness

    running = harness.StartedProgram(os.path.join(folder, "HelloApp.exe"), cwd=folder, timeout=60)
    try:
        window = harness.find_window(harness.RUNTIME_DIALOG_TITLE, timeout=20)
        texts = {c["id"]: c for c in window.info["controls"]}
        window.screenshot(picture)
        print('Dialog:             "%s"' % window.info["title"])
        print("Message:           ", json.dumps(texts[203]["text"], ensure_ascii=False))
        print("Download link:     ", texts[205]["text"])
        print("OK enabled:        ", "yes" if texts[1]["enabled"] else "no (no folder picked yet)")
        print("Screenshot saved:  ", picture)
        window.click(harness.IDCANCEL)
        print("Pressed:            Cancel")
    finally:
        result = running.finish()
    print("Exit code:         ", result.exit_code)
    print()
    print('There the user would press "Browse...", pick a runtime folder and press OK;')
    print('the launcher then starts the program and saves the folder as "JRE Path".')
    return 0 if result.exit_code == -1 and os.path.isfile(picture) else 1


if __name__ == "__main__":
    if sys.argv[1:2] == ["--dialog"]:
        sys.exit(missing_runtime_dialog(*sys.argv[2:4]))
    sys.exit(main(*sys.argv[1:6]))
