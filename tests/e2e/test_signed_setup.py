"""The setup signed by the publisher tool (Authenticode) still installs under Wine."""

import shutil
import subprocess

from code_signing import make_code_signing_certificate
from conftest import publish, tree_files, url_switch


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
