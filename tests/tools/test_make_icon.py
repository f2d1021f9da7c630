"""scripts/make_icon.py refuses what it does not know before it writes
anything: a mistyped option must never become the name of an icon file."""

import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "scripts", "make_icon.py")


class MakeIconTest(unittest.TestCase):

    def test_unknown_options_and_extra_arguments_end_with_status_2_and_write_nothing(self):
        cases = (["--bogus"], ["-o", "x.ico"], ["a.ico", "b.ico"], ["--preview"], ["--preview=", "--size=16"])
        for arguments in cases:
            with self.subTest(arguments=arguments), tempfile.TemporaryDirectory() as folder:
                result = subprocess.run([sys.executable, SCRIPT] + arguments, cwd=folder,
                                        capture_output=True, text=True, timeout=60)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn("usage: make_icon.py", result.stderr)
                self.assertEqual(os.listdir(folder), [])


if __name__ == "__main__":
    unittest.main()
