"""The download thread's Win32 pieces under Wine, through the launcher's own
code in a helper program: what the progress callback asks of urlmon in its
bind information, the removal of the URL's cache entry before each attempt,
and the query of a file's identity. (Wine's urlmon fetches from the server and
writes the cache on every download whatever the flags ask, so their effect
cannot be shown here.)"""

import os
import re
import unittest

import harness
from harness import LauncherTestCase

CHECK = os.path.join(harness.PROGRAMS, "download_check.exe")
URL = "http://tarnix-cache.test" + harness.DOWNLOAD_PATH

BINDF_ASYNCHRONOUS = 0x1
BINDF_ASYNCSTORAGE = 0x2
BINDF_PULLDATA = 0x80
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

    def test_bind_information_asks_for_a_pulled_fresh_copy_within_the_callers_size(self):
        lines = self.check("bindinfo")
        records = [BIND_LINE.match(line) for line in lines[:-2]]
        self.assertTrue(records and all(records), lines)
        for record in records:
            size, result, flags, cb_size, zero_end, fill_start, struct = record.groups()
            size, cb_size, zero_end, fill_start, struct = map(int, (size, cb_size, zero_end, fill_start, struct))
            with self.subTest(size=size, struct=struct):
                self.assertEqual(int(result, 16), 0)
                # An asynchronous binding whose body the callback pulls, fresh from the server.
                self.assertEqual(int(flags, 16), BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA |
                                 BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE)
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

    def test_the_callback_offers_its_interfaces_to_urlmon_with_one_identity(self):
        """The real object urlmon holds: each interface through QueryInterface
        and through QueryService with its id as the service id, each answer
        naming the same IUnknown; no IAuthenticate (the system then prompts
        itself), no IHttpNegotiate2 or IBindStatusCallbackEx. Every answer
        carries a reference: the object ends with the last Release, which may
        come after the download call has returned."""
        lines = self.check("interfaces")
        ok, none = "0x00000000", "0x80004002"
        offered = {"IHttpNegotiate": True, "IWindowForBindingUI": True, "IHttpSecurity": True,
                   "IUnknown": False, "IBindStatusCallback": False, "IServiceProvider": False}
        expected = []
        for name in ("IUnknown", "IBindStatusCallback", "IHttpNegotiate", "IServiceProvider", "IWindowForBindingUI",
                     "IHttpSecurity", "IAuthenticate", "IHttpNegotiate2", "IBindStatusCallbackEx"):
            has = name in offered
            service = offered.get(name, False)
            expected.append(f"{name} qi={ok if has else none} same={int(has)} "
                            f"qs={ok if service else none} same={int(service)}")
        # Outside a dialog there is no window (S_FALSE, none); a certificate
        # problem is refused (E_ABORT); no headers are added; the status is kept.
        expected.append("window=0x00000001 hwnd=0 security=0x80004004 begin=0x00000000 headers=0 "
                        "response=0x00000000 status=407")
        # A redirect to https goes on (RPC_E_RETRY), one to http is refused;
        # a 404 ends the transfer (E_ABORT) and its status is kept.
        expected.append("to-https=0x80010109 to-http=0x80004004 not-found=0x80004004 status=404")
        # Each answer carried a reference (released by the holder), so the
        # object ends with its creator's release and not before it.
        expected.append("references last=0 freed=1 early=0")
        self.assertEqual(lines, expected)

    def test_a_files_identity_is_the_same_whatever_the_spelling_of_its_path(self):
        """The launcher's identity query (attribute access, every share mode):
        the short 8.3 path, a doubled backslash, a \\\\?\\ prefix and upper case
        name the same file, another file does not, a missing one has none, and
        neither a running program's file nor one held without sharing stops it."""
        folder = self.case_dir + "\\Long folder name"
        os.makedirs(self.wine.unix_path(folder))
        self.assertEqual(self.check("identity", folder),
                         ["short-differs=1 index=1 short=1 doubled=1 prefixed=1 case=1 other=0 missing=none "
                          "running=read held=1"])

    def test_the_urls_cache_entry_is_removed_and_no_other(self):
        self.assertEqual(self.check("uncache", URL), ["before=present after=missing other=present"])


if __name__ == "__main__":
    unittest.main()
