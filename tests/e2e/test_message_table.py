"""The message table of the built launchers: every text, read back from the
executable files themselves, against the texts the launcher must show."""

import unittest

import harness

TEXTS = {
    202: "Windows exception: %s (errno = %d).\n",
    203: "JNI exception: %s\nReason: %s.\n",
    204: "COM error: %s (errno = %d).\n",
    205: "JNI exception: %s.\n",
    206: "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
         "with a server JVM (%s) from:",
    207: "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
         "(%s) from:",
    208: "failed to get the module path",
    209: "Java Class Path was not specified in INI file.",
    210: "Main class was not specified in INI file.",
    211: "Failed to load Main Class: %s.\n",
    212: "cannot find CreateJavaVM JNI",
    213: "failed to create the Java VM",
    214: "Browse for JRE folder",
    215: "Could not find the main class %s.\n",
    216: "No main method found in specified class.\n",
    217: "latest version",
    218: "maximum version %s",
    219: "minimum version %s",
    220: "version %s is required",
    221: "version between %s and %s",
    222: "Failed to load Java VM library: %s (errno = %d).\n",
    223: "failed to initialize",
    224: "failed to initialize module",
    225: "unknown",
    226: "thread detached from VM",
    227: "JNI version error",
    228: "not enough memory",
    229: "VM already created",
    230: "invalid arguments",
    232: "The Java VM option %s needs a value after it.\n",
    233: "The Java VM option %s cannot be given here: the class path belongs in \"Class Path\" and the main "
         "class in \"Main Class\".\n",
    234: "The Java VM options in %s were left out: the Java runtime refused them.\n",
    235: "The program asked to be restarted more than 5 times within a minute: it was not restarted again.\n",
    236: "The program could not be started again: %s.\n",
}


class MessageTableTest(unittest.TestCase):
    def test_every_text_of_both_builds(self):
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                exe = harness.to_windows_path(harness.launcher_path(arch))
                # One id on either side of the table: there is nothing else.
                found = harness.ui("strings", exe, 200, 234)
                expected = {str(i): TEXTS.get(i) for i in range(200, 235)}
                for key in sorted(expected, key=int):
                    self.assertEqual(found[key], expected[key], "text %s" % key)


if __name__ == "__main__":
    unittest.main()
