"""The shipped launcher is reproducible: built from the same source in another
folder, at another time, it has the same bytes, so anyone can check a release
against its source."""

import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PRESET = "mingw-x86"
TARGET = "TarnixLauncher"
# The second tree: another path, of another length and depth than the first.
COPY = os.path.join(ROOT, "build", "repro-check", "second-tree")
# What the top of a checkout holds besides the source: build output and version control.
NOT_SOURCE = {"build", "dist", ".git"}
# The build-time settings beside the shipped launcher, one NAME=value line
# each: the second build is configured from them, as a verifier configures a
# rebuild of a release.
SETTINGS_FILE = os.path.join("dist", "build-settings.txt")
# PE header fields that a link time or a signature changes, by offset from the
# PE signature: a failure names them.
PE_FIELDS = {8: "TimeDateStamp", 24 + 64: "CheckSum"}
TOOLS = ("cmake", "ninja", "i686-w64-mingw32-g++-win32", "i686-w64-mingw32-windres")
SIGN_TOOLS = ("openssl", "osslsigncode")
# scripts/test installs everything this test needs, so there a missing tool is
# a fault and not a skip (a skipped test would count as passed).
REQUIRED = os.environ.get("TARNIX_E2E_REQUIRED") == "1"


def require_tools(tools):
    missing = [tool for tool in tools if not shutil.which(tool)]
    if not missing:
        return
    what = f"missing: {', '.join(missing)}"
    if REQUIRED:
        raise AssertionError(f"{what} (TARNIX_E2E_REQUIRED=1 allows no skip)")
    raise unittest.SkipTest(f"{what} (TARNIX_E2E_REQUIRED=1 makes this a failure)")


def run(args, cwd, environment=None):
    result = subprocess.run(args, cwd=cwd, env=environment, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(args)} failed in {cwd}:\n{result.stdout}\n{result.stderr}")


def read(path):
    with open(path, "rb") as file:
        return file.read()


def build(tree, settings=()):
    """Configures the shipping preset in tree (settings: NAME=value lines) and
    builds the launcher alone, which brings its settings file along."""
    run(["cmake", "--preset", PRESET] + [f"-D{line}" for line in settings], tree)
    run(["cmake", "--build", "--preset", PRESET, "--target", TARGET, "--", f"-j{os.cpu_count() or 2}"], tree)
    return os.path.join(tree, "build", PRESET, TARGET + ".exe")


def shipped_settings(tree):
    """The lines of the settings file beside tree's shipped launcher."""
    with open(os.path.join(tree, SETTINGS_FILE), encoding="utf-8") as file:
        return file.read().splitlines()


def cached_values(tree, names):
    """{name: value} of the named variables in tree's shipping build cache."""
    values = {}
    with open(os.path.join(tree, "build", PRESET, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            name, _, value = line.rstrip("\n").partition("=")
            if name.split(":")[0] in names:
                values[name.split(":")[0]] = value
    return values


def copy_source(source, target):
    """Copies the source tree (its working files, with their changes) to target, afresh."""
    def not_source(folder, names):
        top = os.path.samefile(folder, source)
        return [name for name in names if name == "__pycache__" or (top and name in NOT_SOURCE)]
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target, symlinks=True, ignore=not_source)


def differences(first, second):
    """Where two files differ, named by PE header field where one applies."""
    if len(first) != len(second):
        return [f"sizes differ: {len(first)} and {len(second)} bytes"]
    pe = int.from_bytes(first[0x3C:0x40], "little")
    offsets = [i for i in range(len(first)) if first[i] != second[i]]
    named = []
    for offset in offsets:
        field = next((name for start, name in PE_FIELDS.items() if pe + start <= offset < pe + start + 4), None)
        named.append(f"{offset:#x}" + (f" ({field})" if field else ""))
    return named


class ReproducibleTest(unittest.TestCase):

    def test_second_build_in_another_folder_has_the_same_bytes(self):
        require_tools(TOOLS)
        # The first build: the shipping build itself, brought up to date.
        first = build(ROOT)
        settings = shipped_settings(ROOT)
        named = dict(line.split("=", 1) for line in settings)
        self.assertEqual(named, cached_values(ROOT, named), "the settings file names the cache's values")
        copy_source(ROOT, COPY)
        second = build(COPY, settings)
        diff = differences(read(first), read(second))
        self.assertEqual(diff[:20], [], f"{first} and {second} differ at {len(diff)} places")
        self.assertEqual(shipped_settings(COPY), settings)
        shutil.rmtree(COPY, ignore_errors=True)

    def test_signed_file_without_its_signature_is_the_unsigned_file(self):
        # A distributor compares a signed release with a rebuild by removing
        # the signature first: signing must change nothing that this undoes.
        require_tools(TOOLS + SIGN_TOOLS)
        unsigned = build(ROOT)
        with tempfile.TemporaryDirectory() as folder:
            key, certificate = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
            run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                 "/CN=Tarnix Reproducibility Test", "-keyout", key, "-out", certificate], folder)
            signed, stripped = os.path.join(folder, "signed.exe"), os.path.join(folder, "stripped.exe")
            environment = dict(os.environ, TARNIX_SIGN_CERT=certificate, TARNIX_SIGN_KEY=key)
            for name in ("TARNIX_SIGN_PKCS12", "TARNIX_SIGN_PASSWORD", "TARNIX_SIGN_TIMESTAMP_URL"):
                environment.pop(name, None)
            run([os.path.join(ROOT, "scripts", "sign"), unsigned, signed], folder, environment)
            self.assertNotEqual(read(signed), read(unsigned))
            run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped], folder)
            self.assertEqual(differences(read(unsigned), read(stripped))[:20], [])


if __name__ == "__main__":
    unittest.main()
