"""Code signing made at test time: a throwaway root, signing certificates
issued by it (made with openssl), and Authenticode signatures made with
osslsigncode. Nothing here is trusted anywhere but in the tests."""

import atexit
import functools
import os
import secrets
import shutil
import subprocess
import tempfile

import harness

# The name the launcher under test expects on its installer's signature.
EXPECTED_SIGNER = harness.build_setting("TARNIX_INSTALLER_SIGNER", "Korvane")
OTHER_SIGNER = "Someone Else"

_LEAF_EXTENSIONS = """basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def tools_missing():
    """The first of openssl and osslsigncode that is not installed, or None."""
    return next((tool for tool in ("openssl", "osslsigncode") if shutil.which(tool) is None), None)


def _run(*args):
    result = subprocess.run(args, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{args[0]} failed: {result.stderr.strip()}")
    return result.stdout


class Signer:
    """A signing certificate with its key; `chain` holds it and its root (PEM)."""

    def __init__(self, name, key, certificate, chain):
        self.name, self.key, self.certificate, self.chain = name, key, certificate, chain

    def sign(self, source, target, description="Tarnix test"):
        """Writes `source` signed (Authenticode, SHA-256) to `target`."""
        if os.path.exists(target):
            os.remove(target)
        _run("osslsigncode", "sign", "-h", "sha256", "-n", description, "-certs", self.chain, "-key", self.key,
             "-in", source, "-out", target)

    def pkcs12(self, password):
        """The key and chain as one PKCS#12 file protected by `password`; its path."""
        path = os.path.splitext(self.key)[0] + ".p12"
        _run("openssl", "pkcs12", "-export", "-inkey", self.key, "-in", self.certificate, "-certfile", self.chain,
             "-out", path, "-passout", "pass:" + password)
        return path


class Authority:
    """A root certificate made in `folder`, which issues signing certificates."""

    def __init__(self, folder, name="Tarnix Test Root"):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.key = os.path.join(folder, "root.key")
        self.certificate = os.path.join(folder, "root.pem")
        _run("openssl", "req", "-x509", "-utf8", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key,
             "-out", self.certificate, "-days", "30", "-subj", "/CN=" + name,
             "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, name):
        """A code-signing certificate whose subject common name is `name`."""
        stem = os.path.join(self.folder, "signer-" + secrets.token_hex(4))
        key, request, certificate, extensions = (stem + ".key", stem + ".csr", stem + ".pem", stem + ".ext")
        with open(extensions, "w") as out:
            out.write(_LEAF_EXTENSIONS)
        _run("openssl", "req", "-utf8", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
             "-subj", "/O=Tarnix tests/CN=" + name)
        _run("openssl", "x509", "-req", "-in", request, "-CA", self.certificate, "-CAkey", self.key,
             "-set_serial", str(secrets.randbits(63)), "-days", "30", "-extfile", extensions, "-out", certificate)
        chain = stem + "-chain.pem"
        with open(chain, "w") as out:
            for part in (certificate, self.certificate):
                with open(part) as pem:
                    out.write(pem.read())
        return Signer(name, key, certificate, chain)

    def issue_server(self, hosts):
        """A TLS server certificate for `hosts` (names and IP addresses, in
        its subjectAltName); returns the paths of its certificate and key."""
        stem = os.path.join(self.folder, "server-" + secrets.token_hex(4))
        key, request, certificate, extensions = (stem + ".key", stem + ".csr", stem + ".pem", stem + ".ext")
        names = ", ".join(("IP:" if host.replace(".", "").isdigit() else "DNS:") + host for host in hosts)
        with open(extensions, "w") as out:
            out.write("basicConstraints = critical, CA:FALSE\n"
                      "keyUsage = critical, digitalSignature, keyEncipherment\n"
                      "extendedKeyUsage = serverAuth\n"
                      f"subjectAltName = {names}\n")
        _run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
             "-subj", "/CN=" + hosts[0])
        _run("openssl", "x509", "-req", "-in", request, "-CA", self.certificate, "-CAkey", self.key,
             "-set_serial", str(secrets.randbits(63)), "-days", "30", "-extfile", extensions, "-out", certificate)
        return certificate, key

    def der(self):
        """The root certificate in DER form; the file's path."""
        path = os.path.splitext(self.certificate)[0] + ".der"
        _run("openssl", "x509", "-in", self.certificate, "-outform", "DER", "-out", path)
        return path

    def verify(self, path):
        """osslsigncode's own verification of `path` against this root: True when it passes."""
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", self.certificate, "-in", path],
                                capture_output=True, text=True)
        return result.returncode == 0


@functools.cache
def test_authority():
    """One throwaway root for the whole process, removed at its exit."""
    folder = tempfile.mkdtemp(prefix="tarnix-pki-")
    atexit.register(shutil.rmtree, folder, True)
    return Authority(folder)


@functools.cache
def signer(name=None):
    """A signer issued by the test root, named `name` (default: as the build expects)."""
    return test_authority().issue(name or EXPECTED_SIGNER or "Korvane")


def fake_installer(folder, size=0, by="expected"):
    """The bytes of the fake installer, padded to `size` bytes (an overlay
    after the image, which Windows ignores) and signed by the signer the
    build expects ("expected"), by another name ("other"), or not at all (None).
    `folder` takes the files of the signing."""
    with open(os.path.join(harness.PROGRAMS, "fake_installer.exe"), "rb") as program:
        body = program.read()
    body += bytes(max(0, size - len(body)))
    if by is None:
        return body
    unsigned, signed = os.path.join(folder, "installer-unsigned.exe"), os.path.join(folder, "installer-signed.exe")
    with open(unsigned, "wb") as out:
        out.write(body)
    signer(None if by == "expected" else OTHER_SIGNER).sign(unsigned, signed)
    os.remove(unsigned)
    with open(signed, "rb") as result:
        body = result.read()
    os.remove(signed)
    return body
