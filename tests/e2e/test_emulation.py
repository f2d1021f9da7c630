"""How the suite tells a native 32-bit loader from an emulated one, and how
scripts/lib.sh registers and removes its emulator entries in binfmt_misc.

The entries these tests register carry a prefix of their own and a made-up
magic that no real program starts with, run /bin/echo, and are removed by the
tests' own runs: other runs on the machine, and the 32-bit programs they start,
never see a difference."""

import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import harness

LIB = os.path.join(harness.ROOT, "scripts", "lib.sh")
BINFMT = "/proc/sys/fs/binfmt_misc"
PREFIX = "tarnix-selftest"
MAGIC = b"\x7fTNX-SELFTEST"
ESCAPED_MAGIC = "".join("\\x%02x" % byte for byte in MAGIC)
SETUP = f"source '{LIB}'\nTARNIX_I386_PREFIX={PREFIX}\nTARNIX_I386_RULE='M::{ESCAPED_MAGIC}::/bin/echo:'\n"

I386 = b"\x7fELF\x01\x01\x01\x00" + bytes(8) + b"\x02\x00\x03\x00" + bytes(44)
X86_64 = b"\x7fELF\x02\x01\x01\x00" + bytes(8) + b"\x02\x00\x3e\x00" + bytes(44)
ARM32 = b"\x7fELF\x01\x01\x01\x00" + bytes(8) + b"\x02\x00\x28\x00" + bytes(44)


def shell(script, timeout=60, **options):
    """Runs `script` in bash after scripts/lib.sh, set up for test entries."""
    return subprocess.run(["bash", "-c", SETUP + script], capture_output=True, text=True, timeout=timeout,
                          **options)


def pid_namespace():
    return os.readlink("/proc/self/ns/pid")[len("pid:["):-1]


def start_time(pid):
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().rsplit(") ", 1)[1].split()[19]


def ended_pid():
    process = subprocess.Popen(["true"])
    process.wait()
    return process.pid


def fake_loader(folder, head):
    path = os.path.join(folder, "loader")
    with open(path, "wb") as loader:
        loader.write(head)
    os.chmod(path, 0o755)
    return path


class LoaderModeTest(unittest.TestCase):

    def test_only_a_32_bit_x86_program_running_as_itself_counts_as_native(self):
        cases = [
            # exit code, the started process's program file, verdict
            (0, I386, "native"),
            (0, X86_64, "emulated"),      # an emulator running in the loader's stead
            (0, ARM32, "emulated"),
            (0, b"#!/bin/sh\n", "emulated"),
            (0, I386[:19], "emulated"),
            (0, None, "emulated"),        # the process could not be seen: not native
            (1, I386, None),
            (None, I386, None),           # did not start, or did not end in time
            (None, None, None),
        ]
        for code, head, verdict in cases:
            with self.subTest(code=code, head=head and head[:20]):
                self.assertEqual(harness.loader_mode(code, head), verdict)

    def test_the_started_process_is_seen_however_fast_it_ends(self):
        # echo ends within a millisecond; what ran was echo, a 64-bit program,
        # as an emulator is.
        program = shutil.which("echo")
        with open(program, "rb") as file:
            head = file.read(64)
        for attempt in range(20):
            self.assertEqual(harness.held_start(program, ["--version"]), (0, head))
        self.assertEqual(harness.wine32_mode(program), "emulated")

    def test_a_script_runs_as_its_interpreter(self):
        with tempfile.TemporaryDirectory() as folder:
            script = fake_loader(folder, b"#!/bin/sh\necho wine-0\n")
            code, head = harness.held_start(script)
        self.assertEqual(code, 0)
        self.assertTrue(head.startswith(b"\x7fELF"))
        self.assertEqual(harness.loader_mode(code, head), "emulated")

    def test_a_loader_that_does_not_start_or_end_gives_none(self):
        with tempfile.TemporaryDirectory() as folder:
            for program, args in ((os.path.join(folder, "missing"), ()), (fake_loader(folder, MAGIC), ()),
                                  ("false", ()), ("sh", ("-c", "echo broken; exit 1"))):
                with self.subTest(program=program, args=args):
                    self.assertIsNone(harness.loader_mode(*harness.held_start(program, args)))
        code, head = harness.held_start("sleep", ["30"], timeout=1)
        self.assertIsNone(code)


class EntrySelectionTest(unittest.TestCase):
    """The entries' names and the exit trap, against a plain folder standing in
    for binfmt_misc: writing -1 to a plain file leaves it there, so each removal
    shows as a -1 in the file and as a failed removal."""

    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", self.folder]))

    def entry(self, name):
        open(os.path.join(self.folder, name), "w").close()
        return name

    def removals(self):
        found = set()
        for name in os.listdir(self.folder):
            with open(os.path.join(self.folder, name)) as entry:
                if entry.read() == "-1\n":
                    found.add(name)
        return found

    def test_only_entries_of_ended_runs_in_this_pid_namespace_are_removed(self):
        namespace, me, ended = pid_namespace(), os.getpid(), ended_pid()
        kept = {
            self.entry(f"{PREFIX}-{namespace}-{me}-{start_time(me)}"),           # a live run
            self.entry(f"{PREFIX}-{int(namespace) + 1}-{ended}-1"),             # another namespace
            self.entry(PREFIX), self.entry(f"{PREFIX}-{namespace}-x-1"),
            self.entry(f"{PREFIX}-{namespace}-{ended}-1-2"), self.entry("qemu-i386"),
            self.entry(f"tarnix-i386-{namespace}-{ended}-1"),                   # not this prefix
        }
        quiet = shell(f"TARNIX_BINFMT={self.folder}\nremove_stale_i386_entries")
        self.assertEqual((quiet.returncode, self.removals()), (0, set()), quiet.stderr)

        removed = {
            self.entry(f"{PREFIX}-{namespace}-{ended}-1"),                      # its run ended
            self.entry(f"{PREFIX}-{namespace}-{me}-{int(start_time(me)) + 1}"),  # its pid came back
        }
        result = shell(f"TARNIX_BINFMT={self.folder}\nremove_stale_i386_entries")
        self.assertEqual(self.removals(), removed)
        self.assertEqual(result.returncode, 1, "a removal that fails fails")
        self.assertEqual(result.stderr.count("cannot remove"), 2, result.stderr)
        self.assertEqual(set(os.listdir(self.folder)), kept | removed)

    def test_the_exit_trap_fails_the_run_where_its_entry_stays(self):
        name = f"{PREFIX}-1-2-3"
        cases = [
            # entry written, exit status of the script, exit status after the trap
            (True, 0, 1),
            (True, 3, 3),
            (False, 0, 0),  # recorded, then killed before it was written
        ]
        for written, status, expected in cases:
            with self.subTest(written=written, status=status):
                if written:
                    self.entry(name)
                result = shell(f"TARNIX_BINFMT={self.folder}\nTARNIX_I386_ENTRY={name}\n"
                               f"trap end_i386_emulation EXIT\nexit {status}")
                self.assertEqual(result.returncode, expected, result.stderr)
                self.assertEqual("cannot remove" in result.stderr, written)
                if written:
                    os.remove(os.path.join(self.folder, name))


class EmulatorEntryTest(unittest.TestCase):
    """Real entries in binfmt_misc (root): a run killed with its entry
    registered, and the loader check through an entry."""

    mounted = False

    @classmethod
    def setUpClass(cls):
        register = os.path.join(BINFMT, "register")
        if not os.path.exists(register) and os.geteuid() == 0:
            cls.mounted = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", BINFMT],
                                         capture_output=True).returncode == 0
        if os.path.exists(register) and os.access(register, os.W_OK):
            return
        why = (f"binfmt_misc cannot be written here ({register}: needs root and a binfmt_misc that can be "
               "mounted), so the emulator entries of scripts/lib.sh are not tested")
        if harness.wine32_mode() == "native":
            # The suite then needs no emulator: nothing registers an entry.
            raise unittest.SkipTest(why + "; 32-bit programs run natively, so the suite registers none")
        harness.require(False, why + "; the shipped file's module needs them here")

    @classmethod
    def tearDownClass(cls):
        if cls.mounted and not set(os.listdir(BINFMT)) - {"register", "status"}:
            subprocess.run(["umount", BINFMT], capture_output=True)

    def setUp(self):
        self.runs = []
        self.addCleanup(self.clean_up)

    def clean_up(self):
        """Ends the runs of this test and removes the entries named for them
        (their runs' own traps should have done so)."""
        for run in self.runs:
            if run.poll() is None:
                os.killpg(run.pid, signal.SIGKILL)
                run.wait()
            for stream in (run.stdout, run.stderr):
                if stream:
                    stream.close()
        for name in self.entries_of(*(run.pid for run in self.runs)):
            with open(os.path.join(BINFMT, name), "w") as entry:
                entry.write("-1")

    def entries_of(self, *pids):
        return sorted(name for name in os.listdir(BINFMT)
                      if name.startswith(PREFIX + "-") and name.split("-")[-2] in {str(pid) for pid in pids})

    def start_run(self):
        """A run that registers its entry with the exit trap of scripts/test
        and then waits, in a process group of its own; returns once the entry
        is registered."""
        run = subprocess.Popen(["bash", "-c", SETUP + "trap end_i386_emulation EXIT\ntrap 'exit 143' TERM\n"
                                "register_i386_entry\necho registered\nsleep 600 & wait $!"],
                               stdout=subprocess.PIPE, text=True, start_new_session=True)
        self.runs.append(run)
        self.assertEqual(run.stdout.readline(), "registered\n")
        self.assertEqual(len(self.entries_of(run.pid)), 1)
        return run

    def test_a_run_killed_with_its_entry_registered_leaves_none_after_the_next_run(self):
        killed, live = self.start_run(), self.start_run()
        os.killpg(killed.pid, signal.SIGKILL)
        killed.wait()
        self.assertEqual(len(self.entries_of(killed.pid)), 1, "the kill left the entry")

        again = subprocess.Popen(["bash", "-c", SETUP + "trap end_i386_emulation EXIT\nremove_stale_i386_entries\n"
                                  "register_i386_entry\n[ -e \"$TARNIX_BINFMT/$TARNIX_I386_ENTRY\" ]\n"
                                  "echo \"$TARNIX_I386_ENTRY\""],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
        self.runs.append(again)
        out, err = again.communicate(timeout=60)
        self.assertEqual(again.returncode, 0, err)
        self.assertIn("its run has ended", out)
        own = out.splitlines()[-1]
        self.assertEqual(self.entries_of(killed.pid), [])
        self.assertNotIn(own, os.listdir(BINFMT))
        self.assertEqual(len(self.entries_of(live.pid)), 1, "the live run's entry stays")

        os.killpg(live.pid, signal.SIGTERM)
        self.assertEqual(live.wait(timeout=30), 143)
        self.assertEqual(self.entries_of(live.pid), [])

    def test_a_loader_that_runs_through_an_entry_counts_as_emulated(self):
        with tempfile.TemporaryDirectory() as folder:
            loader = fake_loader(folder, MAGIC + b"\n")
            self.assertIsNone(harness.wine32_mode(loader), "no entry: the kernel refuses the program")
            run = self.start_run()
            self.assertEqual(harness.wine32_mode(loader), "emulated")
            os.killpg(run.pid, signal.SIGTERM)
            run.wait(timeout=30)
            self.assertIsNone(harness.wine32_mode(loader))


if __name__ == "__main__":
    unittest.main()
