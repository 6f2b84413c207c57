"""Single instance end to end: a second launch hands its arguments to the
running first instance, whose secondaryMain receives them, and exits with
the answer. The first instance's main keeps running (the stand-in waits for
a stop file) so that hand-overs can happen."""

import os
import time
import unittest

import harness
from harness import LauncherCase, launcher_settings

MAIN_WAITS_MS = 120000


def single_settings(main_class="standin.SecondaryInt", value="yes", app=()):
    items = [("Single Instance", value)] + list(app)
    return launcher_settings(main_class=main_class, app=items)


class SingleInstanceCase(LauncherCase):
    """Helpers: an application whose first instance waits in main."""

    def make_single(self, main_class="standin.SecondaryInt", cfg=None, value="yes", name="app",
                    arch=None):
        settings = dict(main_waits_ms=MAIN_WAITS_MS)
        settings.update(cfg or {})
        app = self.make_app(single_settings(main_class, value), cfg=settings, name=name, arch=arch)
        self.addCleanup(self.stop, app)
        return app

    @staticmethod
    def runtime(app):
        (rt,) = app.runtimes.values()
        return rt

    def events(self, app, event):
        return [r for r in self.runtime(app).records() if r.get("event") == event]

    def wait_for(self, app, event, count=1, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.events(app, event)
            if len(found) >= count:
                return found
            time.sleep(0.1)
        self.fail("no %d %r records within %ss: %r" % (count, event, timeout, self.runtime(app).records()))

    def start_first(self, app, args=()):
        """Starts the first instance and returns once its main runs."""
        before = len(self.events(app, "main"))
        first = app.start(args, timeout=MAIN_WAITS_MS / 1000 + 60)
        self.wait_for(app, "main", before + 1)
        return first

    def stop(self, app):
        """Lets every waiting main of the folder's runtime end."""
        open(os.path.join(self.runtime(app).dll_dir, "standin.stop"), "w").close()

    def restart_allowed(self, app):
        os.unlink(os.path.join(self.runtime(app).dll_dir, "standin.stop"))

    def secondary_args(self, app):
        return [r["args"] for r in self.events(app, "secondary_main")]


class HandOverTest(SingleInstanceCase):
    def test_arguments_reach_secondary_main_and_its_answer_is_the_exit_code(self):
        app = self.make_single(cfg={"secondary_result": 7})
        first = self.start_first(app, ["first"])
        args = ["a b", "Äpp 日本.txt", "-nosplash", "x"]
        r = app.run(args)
        self.assertExit(r, 7)
        self.assertNoBox(r)
        calls = self.events(app, "secondary_main")
        self.assertEqual([c["args"] for c in calls], [args])
        self.assertEqual(calls[0]["form"], "int")
        self.assertEqual(calls[0]["pid"], self.events(app, "main")[0]["pid"])
        # The second instance loaded no runtime and started no machine.
        self.assertEqual(len(self.events(app, "loaded")), 1)
        self.assertEqual(len(self.events(app, "create")), 1)
        # The worker attached and detached again.
        attach = [e for e in self.events(app, "attach") if e["thread"] == calls[0]["thread"]]
        detach = [e for e in self.events(app, "detach") if e["thread"] == calls[0]["thread"]]
        self.assertEqual((len(attach), len(detach)), (1, 1))
        self.stop(app)
        self.assertExit(first.wait(), 0)

    def test_void_form_answers_zero(self):
        app = self.make_single("standin.SecondaryVoid")
        first = self.start_first(app)
        r = app.run(["doc.txt"])
        self.assertExit(r, 0)
        self.assertEqual(self.secondary_args(app), [["doc.txt"]])
        self.assertEqual(self.events(app, "secondary_main")[0]["form"], "void")
        self.stop(app)
        self.assertExit(first.wait(), 0)

    def test_read_back_rules_of_the_argument_area(self):
        app = self.make_single(cfg={"secondary_result": 7})
        first = self.start_first(app)
        cases = [
            # (command line after the program, arguments secondaryMain receives)
            ("", [""]),
            ('a "" b', ["a"]),
            ('"" b', ["", "b"]),
        ]
        for raw, expected in cases:
            with self.subTest(raw=raw):
                before = len(self.secondary_args(app))
                r = app.run(raw_args=raw)
                self.assertExit(r, 7)
                self.assertEqual(self.secondary_args(app)[before:], [expected])
        self.stop(app)
        self.assertExit(first.wait(), 0)

    def test_the_area_takes_1040_bytes_and_not_one_character_more(self):
        app = self.make_single(cfg={"secondary_result": 7})
        first = self.start_first(app)
        # One argument of n characters takes 2 * (n + 1) + 2 bytes.
        fits, too_long = "f" * 518, "t" * 519
        r = app.run([fits])
        self.assertExit(r, 7)
        r = app.run([too_long])
        self.assertExit(r, -1)
        self.assertNoBox(r)
        self.assertEqual(self.secondary_args(app), [[fits]])
        self.stop(app)
        self.assertExit(first.wait(), 0)

    def test_int_form_that_throws_answers_one(self):
        app = self.make_single(cfg={"secondary_throws": 1})
        first = self.start_first(app)
        r = app.run(["boom"])
        self.assertExit(r, 1)
        self.assertEqual(self.secondary_args(app), [["boom"]])
        described = self.events(app, "describe")
        self.assertTrue(described, self.runtime(app).records())
        self.stop(app)
        self.assertExit(first.wait(), 0)

    def test_first_instance_that_ends_without_answering_gives_its_exit_code(self):
        # No secondaryMain: no answer; the second waits for the first's end.
        app = self.make_single("standin.Exits", cfg={"exit_code": 5})
        first = self.start_first(app)
        second = app.start(["late"])
        # The worker's failed lookups show that the request arrived.
        self.wait_for(app, "describe")
        time.sleep(0.5)
        self.assertFalse(second.done())
        self.stop(app)
        self.assertExit(first.wait(), 5)
        self.assertExit(second.wait(), 5)
        self.assertEqual(self.secondary_args(app), [])

    def test_a_launch_after_the_first_ended_is_a_first_instance_again(self):
        app = self.make_single(cfg={"secondary_result": 7})
        first = self.start_first(app)
        self.stop(app)
        self.assertExit(first.wait(), 0)
        self.restart_allowed(app)
        again = self.start_first(app, ["again"])
        self.assertEqual(self.events(app, "main")[-1]["args"], ["again"])
        self.assertExit(app.run(["x"]), 7)
        self.stop(app)
        self.assertExit(again.wait(), 0)


def trace_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


class HandOverFaultTest(SingleInstanceCase):
    """A hand-over never ends in a false success, one slow answer holds up
    nobody, and a message alone cannot make or replay a request."""

    def traced(self, app):
        path = os.path.join(app.case_dir, "trace.log")
        return path, {"VEDA_LAUNCHER_TRACE": harness.to_windows_path(path)}

    def test_launches_queued_behind_slow_answers_all_deliver_at_once(self):
        # Each answer takes 3 s; a launch waits for its own, not for the
        # ones before it.
        app = self.make_single(cfg={"secondary_result_from_args": 1, "secondary_sleep_ms": 3000})
        first = self.start_first(app)
        started = time.monotonic()
        runs = {n: app.start([str(n), "doc %d" % n]) for n in range(1, 9)}
        for n, run in runs.items():
            self.assertExit(run.wait(), n)
        self.assertLess(time.monotonic() - started, 20, "the answers came one after another")
        self.assertEqual(sorted(self.secondary_args(app)), sorted([[str(n), "doc %d" % n] for n in range(1, 9)]))
        self.stop(app)
        self.assertExit(first.wait(), 0)

    def test_a_process_holding_the_turn_makes_a_launch_give_up_not_wait(self):
        app = self.make_single(cfg={"secondary_result": 7})
        first = self.start_first(app)
        name = harness.to_windows_path(app.exe).replace("\\", "_")
        holder = harness.UiProcess("hold", name + "_upr_mtx", 30000)
        self.addCleanup(holder.stop)
        holder.wait_for_output("held")
        trace, env = self.traced(app)
        started = time.monotonic()
        r = app.run(["waiting"], env=env, timeout=60)
        self.assertEqual((r.exit_code, r.timed_out), (-1, False), trace_lines(trace))
        self.assertLess(time.monotonic() - started, 20)
        self.assertTrue([l for l in trace_lines(trace) if "gave up" in l and "no turn" in l], trace_lines(trace))
        holder.stop()
        # The turn is free again: the next launch delivers.
        self.assertExit(app.run(["next"], env=env), 7)
        self.assertEqual(self.secondary_args(app), [["next"]])
        self.assertTrue([l for l in trace_lines(trace) if "handed over" in l], trace_lines(trace))
        self.assertTrue([l for l in trace_lines(trace) if 'answered' in l and 'code=7' in l], trace_lines(trace))
        self.stop(app)
        self.assertExit(first.wait(), 0)

    def test_a_list_refused_while_the_program_shuts_down_reaches_the_next_first_instance(self):
        # The first instance's shutdown hooks run for 6 s after its main
        # ended; a launch in that time is refused, waits for the end and
        # becomes the first instance itself, with its own list.
        app = self.make_single(cfg={"secondary_result": 7, "destroy_sleep_ms": 6000})
        first = self.start_first(app, ["first"])
        self.stop(app)
        self.wait_for(app, "destroy")
        late = app.start(["late"], timeout=MAIN_WAITS_MS / 1000 + 60)
        self.assertExit(first.wait(), 0)
        mains = self.wait_for(app, "main", 2)
        self.assertEqual(mains[-1]["args"], ["late"])
        self.assertEqual(self.secondary_args(app), [])
        self.assertExit(late.wait(), 0)

    def test_a_message_from_a_process_that_cannot_read_the_block_is_not_served(self):
        app = self.make_single(cfg={"secondary_result": 7})
        first = self.start_first(app)
        self.assertExit(app.run(["private.txt"]), 7)
        # A process that knows the first instance's threads and the name of
        # the message, but not the request's number, posts in the old way.
        pid = self.events(app, "main")[0]["pid"]
        name = harness.to_windows_path(app.exe).replace("\\", "_")
        posted = harness.ui("post", pid, name, "self", 1500)
        self.assertGreater(posted["posted"], 0)
        self.assertEqual(posted["replies"], 0)
        self.assertEqual(self.secondary_args(app), [["private.txt"]])
        self.assertExit(app.run(["next.txt"]), 7)
        self.assertEqual(self.secondary_args(app), [["private.txt"], ["next.txt"]])
        self.stop(app)
        self.assertExit(first.wait(), 0)


class RestartHandOverTest(HandOverFaultTest.__base__):
    traced = HandOverFaultTest.traced

    def test_a_document_handed_over_while_the_program_restarts_reaches_the_new_run(self):
        # The first instance's program asks for a restart; a launch made
        # while it ends neither runs the program itself nor loses its list.
        # The ending run lingers after its exit hook, so the launch comes
        # while the program has no run that could take its list.
        app = self.make_app(single_settings(app=[("Restart Exit Code", "23")]),
                            cfg={"main_waits_ms": MAIN_WAITS_MS, "exit_runs": 1, "exit_code": 23,
                                 "consume_stop": 1, "secondary_result": 7, "exit_sleep_ms": 1500})
        self.addCleanup(self.stop, app)
        first = self.start_first(app, ["first"])
        self.stop(app)
        self.wait_for(app, "exit_lingers")
        trace, env = self.traced(app)
        late = app.start(["late doc"], timeout=90, env=env)
        self.assertExit(late.wait(), 7)
        self.assertTrue([l for l in trace_lines(trace) if "waiting for its next run" in l], trace_lines(trace))
        mains = self.events(app, "main")
        self.assertEqual([m["args"] for m in mains], [["first"], ["first"]])
        (secondary,) = self.events(app, "secondary_main")
        self.assertEqual(secondary["args"], ["late doc"])
        self.assertEqual(secondary["pid"], mains[1]["pid"])
        self.stop(app)
        self.assertExit(first.wait(), 0)


class IndependenceTest(SingleInstanceCase):
    def test_yes_in_capitals_leaves_the_check_off(self):
        app = self.make_single(value="Yes")
        first = self.start_first(app, ["one"])
        second = self.start_first(app, ["two"])
        self.assertEqual(sorted(m["args"][0] for m in self.events(app, "main")), ["one", "two"])
        self.stop(app)
        self.assertExit(first.wait(), 0)
        self.assertExit(second.wait(), 0)
        self.assertEqual(self.secondary_args(app), [])

    def test_two_copies_in_different_folders_do_not_see_each_other(self):
        a = self.make_single(cfg={"secondary_result": 7}, name="a")
        b = self.make_single(cfg={"secondary_result": 8}, name="b")
        first_a = self.start_first(a)
        first_b = self.start_first(b)
        self.assertExit(a.run(["to a"]), 7)
        self.assertExit(b.run(["to b"]), 8)
        self.assertEqual(self.secondary_args(a), [["to a"]])
        self.assertEqual(self.secondary_args(b), [["to b"]])
        self.stop(a)
        self.stop(b)
        self.assertExit(first_a.wait(), 0)
        self.assertExit(first_b.wait(), 0)

    def test_a_path_too_long_to_name_the_objects_runs_ordinary_instances(self):
        # The event's name (the path with "_upr_evt") would exceed MAX_PATH - 1
        # characters, while the path itself is a valid 255-character one.
        probe = harness.AppFolder.for_test(self)  # tells how long a case folder's name is
        base = len(harness.to_windows_path(probe.case_dir))
        deep = "d" * (255 - base - len("\\") - len("\\App.exe"))
        app = harness.AppFolder.for_test(self, name=deep)
        app.install_launcher()
        app.write_file("app.jar", b"")
        # The runtime lies outside, where its own path stays short.
        rt = app.add_runtime(os.path.join(probe.case_dir, "jre"), cfg={"main_waits_ms": MAIN_WAITS_MS})
        app.write_ini(launcher_settings(main_class="standin.SecondaryInt", jre={"JRE Path": rt.win_home},
                                        app={"Single Instance": "yes"}))
        self.addCleanup(self.stop, app)
        self.assertEqual(len(harness.to_windows_path(app.exe)), 255)
        first = self.start_first(app, ["one"])
        second = self.start_first(app, ["two"])
        self.stop(app)
        self.assertExit(first.wait(), 0)
        self.assertExit(second.wait(), 0)
        self.assertEqual(self.secondary_args(app), [])


class LoadTest(unittest.TestCase):
    """The load script, at a size the suite can afford."""

    def test_concurrent_second_instances(self):
        import load_single_instance
        self.assertEqual(load_single_instance.run(size=12, burst=6), [], "lost, mixed or wrong answers")


if __name__ == "__main__":
    unittest.main()
