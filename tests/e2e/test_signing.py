"""The launcher's own signature: scripts/sign signs a build with the material
it is given (a PEM certificate and key, or a PKCS#12 file with its password),
the signature verifies, and the signed launcher still starts the host."""

import os
import subprocess
import unittest

import harness
import signing
from harness import LauncherTestCase

SIGN = os.path.join(harness.ROOT, "scripts", "sign")
PUBLISHER = "Tarnix Test Publisher"


class SignedLauncherTest(LauncherTestCase):

    @classmethod
    def setUpClass(cls):
        harness.require(not signing.tools_missing(), f"{signing.tools_missing()} (not installed)")
        harness.require_built(os.path.join(harness.PROGRAMS, "trust_check.exe"))
        cls.authority = signing.test_authority()
        cls.publisher = signing.signer(PUBLISHER)
        super().setUpClass()

    def sign(self, source, target, material):
        env = {k: v for k, v in os.environ.items() if not k.startswith("TARNIX_SIGN_")}
        env.update(material)
        result = subprocess.run([SIGN, source, target], env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_a_signed_launcher_verifies_and_still_starts_the_host(self):
        password = "pass word \"quoted\" $HOME"
        materials = {
            "PEM certificate and key": {"TARNIX_SIGN_CERT": self.publisher.chain,
                                        "TARNIX_SIGN_KEY": self.publisher.key},
            "PKCS#12 file and password": {"TARNIX_SIGN_PKCS12": self.publisher.pkcs12(password),
                                          "TARNIX_SIGN_PASSWORD": password},
        }
        self.install_host()
        folder = self.app_folder()
        for name, material in materials.items():
            with self.subTest(name):
                signed = os.path.join(self.work, "TarnixLauncher.exe")
                self.sign(harness.LAUNCHER, signed, material)
                self.assertTrue(self.authority.verify(signed), "osslsigncode's own verification")

                # The system's verification under Wine, through the launcher's own check.
                check = self.wine.run(os.path.join(harness.PROGRAMS, "trust_check.exe"),
                                      ["Z:" + signed.replace("/", "\\"), PUBLISHER])
                self.assertEqual(check.returncode, 0, check.stdout)

                if os.path.exists(self.host_log):
                    os.remove(self.host_log)
                result = self.wine.run(signed, ["--appwindowsize=800x600"], cwd=self.wine.unix_path(folder),
                                       env=self.launcher_env(None))
                self.assertEqual(result.returncode, 0)
                _, argv, _ = self.host_record()
                self.assertEqual(argv[1:], ["--load-apps=" + folder, "--tarnix-host-window-size=800x600",
                                            "--no-sandbox"])

    def test_without_material_the_build_stays_unsigned(self):
        unsigned = os.path.join(self.work, "TarnixLauncher.exe")
        self.assertIn("Not signed", self.sign(harness.LAUNCHER, unsigned, {}))
        with open(harness.LAUNCHER, "rb") as built, open(unsigned, "rb") as copy:
            self.assertEqual(built.read(), copy.read())


if __name__ == "__main__":
    unittest.main()
