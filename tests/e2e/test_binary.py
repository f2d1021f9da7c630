"""What the shipped file itself must satisfy, read without running it."""

import os
import re
import subprocess
import unittest

from harness import ROOT

SHIPPED = os.path.join(ROOT, "dist", "TarnixLauncher.exe")
X64 = os.path.join(ROOT, "build", "mingw-x64", "TarnixLauncher.exe")
# Libraries Windows always takes from the system directory.
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
                   "comctl32.dll", "msvcrt.dll"}


def imports(path, objdump):
    dump = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}


class BinaryTest(unittest.TestCase):

    def test_imports_only_libraries_taken_from_the_system(self):
        for path, objdump in ((SHIPPED, "i686-w64-mingw32-objdump"), (X64, "x86_64-w64-mingw32-objdump")):
            with self.subTest(path=path):
                if not os.path.exists(path):
                    self.skipTest(f"not built: {path}")
                found = imports(path, objdump)
                self.assertIn("kernel32.dll", found)
                self.assertEqual(found - ALLOWED_IMPORTS, set())

    def test_shipped_file_is_a_32_bit_gui_program(self):
        if not os.path.exists(SHIPPED):
            self.skipTest("not built")
        header = subprocess.run(["i686-w64-mingw32-objdump", "-f", "-p", SHIPPED], capture_output=True,
                                text=True, check=True).stdout
        self.assertIn("pei-i386", header)
        self.assertRegex(header, r"Subsystem\s+00000002")  # Windows GUI


if __name__ == "__main__":
    unittest.main()
