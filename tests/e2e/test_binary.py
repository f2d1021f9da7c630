"""What the shipped file itself must satisfy, read without running it."""

import os
import re
import shutil
import subprocess
import unittest

from harness import ROOT, require, require_built

SHIPPED = os.path.join(ROOT, "dist", "TarnixLauncher.exe")
X64 = os.path.join(ROOT, "build", "mingw-x64", "TarnixLauncher.exe")
# Exactly the libraries the README promises, all of which Windows always takes
# from the system directory; an import added or dropped changes the README too.
PROMISED_IMPORTS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}


def imports(path, objdump):
    require(shutil.which(objdump), objdump)
    dump = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    return {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}


class BinaryTest(unittest.TestCase):

    def test_imports_exactly_the_promised_libraries(self):
        for path, objdump in ((SHIPPED, "i686-w64-mingw32-objdump"), (X64, "x86_64-w64-mingw32-objdump")):
            with self.subTest(path=path):
                require_built(path)
                self.assertEqual(imports(path, objdump), PROMISED_IMPORTS)

    def test_shipped_file_is_a_32_bit_gui_program(self):
        require_built(SHIPPED)
        require(shutil.which("i686-w64-mingw32-objdump"), "i686-w64-mingw32-objdump")
        header = subprocess.run(["i686-w64-mingw32-objdump", "-f", "-p", SHIPPED], capture_output=True,
                                text=True, check=True).stdout
        self.assertIn("pei-i386", header)
        self.assertRegex(header, r"Subsystem\s+00000002")  # Windows GUI


if __name__ == "__main__":
    unittest.main()
