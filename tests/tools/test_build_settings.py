"""Configuring refuses build-time settings that would build a broken launcher,
and the settings file names each setting exactly as configured. Runs
cmake/build_settings.cmake in CMake's script mode: seconds, no compiler."""

import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MODULE = os.path.join(ROOT, "cmake", "build_settings.cmake")
# ctest names the cmake that configured the build.
CMAKE = os.environ.get("TARNIX_CMAKE") or shutil.which("cmake")


def configure(**settings):
    """cmake -DNAME=value ... -P the settings module: (exit status, output)."""
    arguments = [CMAKE] + [f"-D{name}={value}" for name, value in settings.items()] + ["-P", MODULE]
    result = subprocess.run(arguments, capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout + result.stderr


@unittest.skipUnless(CMAKE, "cmake is missing")
class BuildSettingsTest(unittest.TestCase):

    def test_settings_a_launcher_can_use_are_accepted(self):
        cases = {
            "the defaults": {},
            "https with a query": {"TARNIX_REPORT_URL": "https://stats.example.com:8443/r?id=1",
                                   "TARNIX_DOWNLOAD_URL": "https://mirror.example.com/TarnixSetup.exe"},
            "a query of one character": {"TARNIX_REPORT_URL": "http://stats.example.com/r?a"},
            "no stall limit": {"TARNIX_DOWNLOAD_STALL_SECONDS": "0"},
            "the longest stall limit": {"TARNIX_DOWNLOAD_STALL_SECONDS": "4294967"},
            "a signer with blanks": {"TARNIX_INSTALLER_SIGNER": "Example Software Ltd"},
        }
        for name, settings in cases.items():
            with self.subTest(name):
                status, output = configure(**settings)
                self.assertEqual(status, 0, output)
                self.assertNotIn("Warning", output)

    def test_an_empty_signer_is_accepted_with_a_warning(self):
        status, output = configure(TARNIX_INSTALLER_SIGNER="")
        self.assertEqual(status, 0, output)
        self.assertIn("TARNIX_INSTALLER_SIGNER is empty", output)

    def test_settings_that_would_build_a_broken_launcher_are_refused(self):
        cases = (
            ("TARNIX_REPORT_URL", "http://stats.example.com/report", "query of its own"),
            ("TARNIX_REPORT_URL", "http://stats.example.com/report?", "query of its own"),
            ("TARNIX_REPORT_URL", "http://stats.example.com/report?a=1#top", "query of its own"),
            ("TARNIX_REPORT_URL", "http://stats.example.com/#x?a=1", "query of its own"),
            ("TARNIX_REPORT_URL", "stats.example.com/report?a=1", "must start with http"),
            ("TARNIX_DOWNLOAD_URL", "ftp://download.example.com/TarnixSetup.exe", "must start with http"),
            ("TARNIX_DOWNLOAD_URL", "http:///TarnixSetup.exe", "must start with http"),
            ("TARNIX_DOWNLOAD_URL", "http://download.example.com/Tarnix Setup.exe", "printable ASCII"),
            ("TARNIX_DOWNLOAD_URL", 'http://download.example.com/"x"', "printable ASCII"),
            ("TARNIX_REPORT_URL", "http://stats.example.com/r?a=1;b=2", "printable ASCII"),
            ("TARNIX_DOWNLOAD_STALL_SECONDS", "abc", "whole number of seconds"),
            ("TARNIX_DOWNLOAD_STALL_SECONDS", "-1", "whole number of seconds"),
            ("TARNIX_DOWNLOAD_STALL_SECONDS", "1.5", "whole number of seconds"),
            ("TARNIX_DOWNLOAD_STALL_SECONDS", "4294968", "whole number of seconds"),
            ("TARNIX_INSTALLER_SIGNER", 'Example "Software"', "quote or a backslash"),
            ("TARNIX_INSTALLER_SIGNER", "Example\\Software", "quote or a backslash"),
        )
        for name, value, message in cases:
            with self.subTest(name=name, value=value):
                status, output = configure(**{name: value})
                self.assertNotEqual(status, 0, output)
                self.assertIn(name, output)
                self.assertIn(message, output)

    def test_the_settings_file_names_every_setting_as_configured(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "build-settings.txt")
            script = os.path.join(folder, "write.cmake")
            with open(script, "w", encoding="utf-8") as file:
                file.write(f'include("{MODULE}")\ntarnix_write_build_settings("{path}")\n')
            settings = {"TARNIX_REPORT_URL": "https://stats.example.com/r?a=1&b=x=y",
                        "TARNIX_INSTALLER_SIGNER": "Example Software Ltd"}
            arguments = [CMAKE] + [f"-D{name}={value}" for name, value in settings.items()] + ["-P", script]
            subprocess.run(arguments, check=True, capture_output=True, timeout=60)
            with open(path, encoding="utf-8") as file:
                lines = file.read().splitlines()
        # Each line passes back as -DNAME=value: split at its first "=".
        written = dict(line.split("=", 1) for line in lines)
        self.assertEqual(list(written), ["TARNIX_DOWNLOAD_URL", "TARNIX_REPORT_URL",
                                         "TARNIX_DOWNLOAD_STALL_SECONDS", "TARNIX_INSTALLER_SIGNER"])
        self.assertEqual(written["TARNIX_REPORT_URL"], settings["TARNIX_REPORT_URL"])
        self.assertEqual(written["TARNIX_INSTALLER_SIGNER"], settings["TARNIX_INSTALLER_SIGNER"])
        self.assertEqual(written["TARNIX_DOWNLOAD_STALL_SECONDS"], "60")


if __name__ == "__main__":
    unittest.main()
