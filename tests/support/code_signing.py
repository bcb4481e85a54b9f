"""A throw-away self-signed code-signing certificate for the tests that sign the setup."""

import subprocess


def make_code_signing_certificate(folder):
    """Writes key.pem, cert.pem, password.txt and cert.p12 (protected by that password) into
    folder; returns the paths of cert.p12, password.txt and cert.pem."""
    folder.mkdir(parents=True, exist_ok=True)
    password = folder / "password.txt"
    password.write_text("correct horse battery\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
                    "-subj", "/CN=Tessaryn Test Signing", "-addext",
                    "extendedKeyUsage=codeSigning", "-keyout", folder / "key.pem",
                    "-out", folder / "cert.pem"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", folder / "key.pem", "-in",
                    folder / "cert.pem", "-out", folder / "cert.p12", "-passout",
                    f"file:{password}"], check=True, capture_output=True)
    return folder / "cert.p12", password, folder / "cert.pem"
