"""What the shipped file itself must satisfy, read without running it."""

import os
import re
import shutil
import struct
import subprocess
import unittest

from harness import ROOT, require, require_built

SHIPPED = os.path.join(ROOT, "dist", "TarnixLauncher.exe")
X64 = os.path.join(ROOT, "build", "mingw-x64", "TarnixLauncher.exe")
# Exactly the libraries the README promises, all of which Windows always takes
# from the system directory; an import added or dropped changes the README too.
PROMISED_IMPORTS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}
RT_ICON, RT_GROUP_ICON, IDR_MAINFRAME = 3, 14, 128
SHIPPED_SIZE_LIMIT = 256 * 1024  # the shipped file's bytes, icon and resources included
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def resources(path):
    """The PE file's resources as {(type, name): data of its first language}, numeric ids only."""
    with open(path, "rb") as file:
        data = file.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    for index in range(count):
        name, _, address, _, offset = struct.unpack_from("<8sIIII", data, pe + 24 + optional_size + 40 * index)
        if name.rstrip(b"\0") == b".rsrc":
            break
    else:
        return {}

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, offset + directory + 12)
        for index in range(named + numbered):
            yield struct.unpack_from("<II", data, offset + directory + 16 + 8 * index)

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            _, leaf = next(entries(languages & 0x7FFFFFFF))
            at, size = struct.unpack_from("<II", data, offset + leaf)
            found[(kind, name)] = data[offset + at - address:offset + at - address + size]
    return found


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

    def test_the_shipped_file_stays_within_its_size_limit(self):
        require_built(SHIPPED)
        self.assertLessEqual(os.path.getsize(SHIPPED), SHIPPED_SIZE_LIMIT)

    def test_shipped_file_is_a_32_bit_gui_program(self):
        require_built(SHIPPED)
        require(shutil.which("i686-w64-mingw32-objdump"), "i686-w64-mingw32-objdump")
        header = subprocess.run(["i686-w64-mingw32-objdump", "-f", "-p", SHIPPED], capture_output=True,
                                text=True, check=True).stdout
        self.assertIn("pei-i386", header)
        self.assertRegex(header, r"Subsystem\s+00000002")  # Windows GUI

    def test_the_icon_holds_16_32_and_48_as_bitmaps_and_256_as_png(self):
        # The set every Windows since XP picks from: XP reads bitmaps only, and
        # never picks the 256 entry while smaller ones are there.
        for path in (SHIPPED, X64):
            with self.subTest(path=path):
                require_built(path)
                found = resources(path)
                group = found[(RT_GROUP_ICON, IDR_MAINFRAME)]
                images = {}
                for index in range(struct.unpack_from("<H", group, 4)[0]):
                    entry = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
                    width, height, _, _, _, bits, size, image_id = entry
                    image = found[(RT_ICON, image_id)]
                    self.assertEqual((width, bits, len(image)), (height, 32, size))
                    images[width or 256] = image
                self.assertEqual(sorted(images), [16, 32, 48, 256])
                for size in (16, 32, 48):
                    # BITMAPINFOHEADER: twice the height (colours and AND mask), 32 bits.
                    self.assertEqual(struct.unpack_from("<IiiHH", images[size]), (40, size, 2 * size, 1, 32))
                self.assertTrue(images[256].startswith(PNG_SIGNATURE))
                self.assertEqual(struct.unpack_from(">II", images[256], 16), (256, 256))


if __name__ == "__main__":
    unittest.main()
