"""The setup signed by the publisher tool (Authenticode) still installs under Wine."""

import shutil
import subprocess

from conftest import publish, tree_files, url_switch


def make_code_signing_certificate(folder):
    """A throw-away self-signed code-signing certificate in a password-protected PKCS#12 file."""
    folder.mkdir()
    password = folder / "password.txt"
    password.write_text("e2e password\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
                    "-subj", "/CN=Tessaryn Test Signing", "-addext",
                    "extendedKeyUsage=codeSigning", "-keyout", folder / "key.pem",
                    "-out", folder / "cert.pem"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", folder / "key.pem", "-in",
                    folder / "cert.pem", "-out", folder / "cert.p12", "-passout",
                    f"file:{password}"], check=True, capture_output=True)
    return folder / "cert.p12", password, folder / "cert.pem"


def test_signed_setup_installs_silently_with_the_package_beside_it(machine, test_host, product,
                                                                     tmp_path):
    p12, password, cert = make_code_signing_certificate(tmp_path / "codesign")
    setup = machine.put_setup()
    unsigned = setup.read_bytes()
    publish("sign-exe", setup, "--pkcs12", p12, "--password-file", password)
    assert setup.read_bytes() != unsigned
    subprocess.run(["osslsigncode", "verify", "-in", setup, "-CAfile", cert], check=True,
                   capture_output=True, timeout=60)
    shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
    shutil.copyfile(product.pak, machine.downloads / "Tessaryn-setup.pak")

    assert machine.run_setup("/VERYSILENT", url_switch(test_host.base_url)) == 0

    installed = tree_files(machine.install_dir)
    for name, content in tree_files(product.tree).items():
        assert installed.get(name) == content, name
    assert (machine.install_dir / "unins000.exe").read_bytes() == setup.read_bytes()
