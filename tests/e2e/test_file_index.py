"""The signed file index: a release whose index does not describe its package is refused by a
setup that holds the whole package, and nothing of it is installed."""
import json

import pytest

from conftest import INVALID_DATA, sign_settings, url_switch
from test_bad_input import nothing_installed
from test_switches import log_lines


def edit_index(index, case):
    rows = index["files"]
    if case == "a file's bytes hash":
        rows[0][5] = "0" * 64
    elif case == "a span one byte short":
        rows[0][4] -= 1
    elif case == "a file left out":
        rows.pop(0)
    elif case == "a file twice":
        rows.append(list(rows[0]))
    return index


# Each index is signed with the release key, as a publisher's mistake or an edit would be.
@pytest.mark.parametrize("case, said", [
    ("a file's bytes hash", "does not match the package: file "),
    ("a span one byte short", "does not match the package: file "),
    ("a file left out", "does not match the package: file "),
    ("a file twice", "has a malformed \"index\" entry"),
])
def test_an_index_that_is_not_its_packages_is_refused(machine, host, product, case, said):
    settings = json.loads(product.dat.read_bytes()[:-64])
    settings["index"] = edit_index(settings["index"], case)
    product.dat.write_bytes(sign_settings(settings, product.dat.parent))
    host.publish(product)
    machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url), r"/LOG=C:\index.txt")

    assert code == INVALID_DATA
    assert nothing_installed(machine)
    log = "\n".join(log_lines(machine.c / "index.txt"))
    assert said in log, log
