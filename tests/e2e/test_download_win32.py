"""The download thread's Win32 pieces under Wine, through the launcher's own
code in a helper program: what the progress callback asks of urlmon in its
bind information, and the removal of the URL's cache entry before each
attempt. (Wine's urlmon fetches from the server and writes the cache on every
download whatever the flags ask, so their effect cannot be shown here.)"""

import os
import re
import unittest

import harness
from harness import LauncherTestCase

CHECK = os.path.join(harness.PROGRAMS, "download_check.exe")
URL = "http://tarnix-cache.test" + harness.DOWNLOAD_PATH

BINDF_GETNEWESTVERSION = 0x10
BINDF_NOWRITECACHE = 0x20
E_INVALIDARG = 0x80070057
BIND_LINE = re.compile(r"^size=(\d+) result=0x([0-9a-f]{8}) flags=0x([0-9a-f]{8}) cbSize=(\d+) "
                       r"zero_end=(\d+) fill_start=(\d+) struct=(\d+)$")


class DownloadWin32Test(LauncherTestCase):

    @classmethod
    def setUpClass(cls):
        harness.require_built(CHECK)
        super().setUpClass()

    def check(self, *args):
        result = self.wine.run(CHECK, list(args))
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        return result.stdout.splitlines()

    def test_bind_information_asks_for_a_fresh_copy_within_the_callers_size(self):
        lines = self.check("bindinfo")
        records = [BIND_LINE.match(line) for line in lines[:-2]]
        self.assertTrue(records and all(records), lines)
        for record in records:
            size, result, flags, cb_size, zero_end, fill_start, struct = record.groups()
            size, cb_size, zero_end, fill_start, struct = map(int, (size, cb_size, zero_end, fill_start, struct))
            with self.subTest(size=size, struct=struct):
                self.assertEqual(int(result, 16), 0)
                self.assertEqual(int(flags, 16), BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE)
                # The caller's size stays; every field within it and within
                # the record is zero (a plain GET); the bytes beyond are the caller's.
                self.assertEqual(cb_size, size)
                written = max(4, min(size, struct))
                self.assertEqual(zero_end, written)
                self.assertEqual(fill_start, written)
        sizes = [int(record[1]) for record in records]
        struct = int(records[0][7])
        self.assertIn(struct, sizes, "the whole record is among the cases")
        self.assertTrue(any(size > struct for size in sizes), "a newer caller's longer record is among the cases")
        self.assertEqual(lines[-2:], [f"null-flags result=0x{E_INVALIDARG:08x}",
                                      f"null-info result=0x{E_INVALIDARG:08x}"])

    def test_the_urls_cache_entry_is_removed_and_no_other(self):
        self.assertEqual(self.check("uncache", URL), ["before=present after=missing other=present"])


if __name__ == "__main__":
    unittest.main()
