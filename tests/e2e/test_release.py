"""A release is one signed whole: the settings name their package, versions only go up, settings
expire, they are for this product only, and only answers signed for the request are acted on."""

import shutil
import time

import pytest

from conftest import (INVALID_DATA, FLOOR_SETUP_EXE, UNINSTALL_KEY, Answer, make_product,
                      package_binding, sign_settings, tree_files, url_switch)

DOWNGRADE_REFUSED = 3
SETTINGS_EXPIRED = 4
HOST_ENDED = 2


def put_beside(machine, product):
    shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
    shutil.copyfile(product.pak, machine.downloads / "Tessaryn-setup.pak")


def serve(test_host, product):
    shutil.copyfile(product.dat, test_host.files / "tessaryn.dat")
    shutil.copyfile(product.pak, test_host.files / "tessaryn.pak")


@pytest.mark.parametrize("source", ["beside", "host"])
def test_a_lower_version_is_refused_unless_allowed(machine, test_host, tmp_path, source):
    newer = make_product(tmp_path / "v2", version="2.0")
    older = make_product(tmp_path / "v1", version="1.10.0-beta")
    setup = machine.put_setup()
    put_beside(machine, newer)
    assert machine.run_setup("/VERYSILENT") == 0
    (machine.downloads / "Tessaryn-setup.dat").unlink()
    (machine.downloads / "Tessaryn-setup.pak").unlink()
    installed = tree_files(machine.install_dir)
    record = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    assert record["DisplayVersion"] == ("REG_SZ", "2.0")

    if source == "beside":
        put_beside(machine, older)
    else:
        serve(test_host, older)
    log = machine.downloads / "refused.txt"
    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url),
                             "/LOG=" + machine.windows_path(log))

    assert code == DOWNGRADE_REFUSED
    assert tree_files(machine.install_dir) == installed, "the installed version was touched"
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") == record
    text = log.read_text("utf-8")
    assert ("Tessaryn 2.0 is already installed, and this setup holds the older version "
            "1.10.0-beta") in text
    assert not [r for r in test_host.requests() if r["path"].endswith(".pak")], \
        "the package was fetched for a refused release"

    # An administrator goes back on purpose.
    assert machine.run_setup("/VERYSILENT", "/ALLOWDOWNGRADE", url_switch(test_host.base_url)) == 0
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")["DisplayVersion"] == \
        ("REG_SZ", "1.10.0-beta")
    assert (machine.install_dir / "readme.txt").read_text() == "Tessaryn 1.10.0-beta\n"
    assert (machine.install_dir / "unins000.exe").read_bytes() == setup.read_bytes()
    # The same version again is a repair.
    assert machine.run_setup("/VERYSILENT", url_switch(test_host.base_url)) == 0


@pytest.mark.parametrize("case", ["other-build", "version", "unbound", "other-product",
                                  "expired"])
def test_settings_that_are_not_this_release_are_refused(machine, test_host, tmp_path, case):
    product = make_product(tmp_path / "a", version="1.0")
    settings = dict(product.settings, package=package_binding(product.pak))
    pak = product.pak
    if case == "other-build":
        # Another build of the same version, signed with the same key.
        pak = make_product(tmp_path / "b", version="1.0").pak
    elif case == "version":
        settings["ver"] = "1.1"
        settings["package"] = package_binding(pak)
    elif case == "unbound":
        del settings["package"]
    elif case == "other-product":
        settings["prod"] = "Othersoft"
    else:
        settings["expires"] = "2021-06-30T12:00:00Z"
    dat = sign_settings(settings, tmp_path)
    (test_host.files / "tessaryn.dat").write_bytes(dat)
    shutil.copyfile(pak, test_host.files / "tessaryn.pak")
    machine.put_setup()
    log = machine.downloads / "log.txt"

    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url),
                             "/LOG=" + machine.windows_path(log))

    text = log.read_text("utf-8")
    said = {
        "other-build": "Message (Invalid data signature): Setup cannot continue. Please "
                       "re-download and try again.",
        "version": "Message (Package mismatch): The package holds version 1.0, but the setup "
                   "information names version 1.1. Downloading again does not help",
        "unbound": "Message (Invalid setup information): The setup information file does not "
                   "name its package. Downloading again does not help",
        "other-product": "Message (Wrong setup information): The setup information file is for "
                         "the product \"Othersoft\", not for this setup.",
        "expired": "Message (Setup files expired): The setup files have expired "
                   "(2021-06-30T12:00:00Z), and the web host offers no newer ones.",
    }[case]
    assert said in text
    assert code == (SETTINGS_EXPIRED if case == "expired" else INVALID_DATA)
    # Only a file that fails its check is said to be damaged.
    assert ("re-download" in text) == (case == "other-build")
    assert not machine.install_dir.exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    if case == "other-build":
        # Refused by the length it was announced with, or, of the same length, by its hash.
        assert ("another length announced" in text) != (
            "with the size and SHA-256 the settings name: INVALID (" in text), text
    fetched = [r for r in test_host.requests() if r["path"].endswith(".pak")]
    assert bool(fetched) == (case in ("other-build", "version")), fetched


def test_a_package_beside_the_setup_of_another_build_is_refused(machine, tmp_path):
    product = make_product(tmp_path / "a", version="1.0")
    other = make_product(tmp_path / "b", version="1.0")
    machine.put_setup()
    shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
    shutil.copyfile(other.pak, machine.downloads / "Tessaryn-setup.pak")

    assert machine.run_setup("/VERYSILENT") == INVALID_DATA
    assert not machine.install_dir.exists()


# An old signed release left beside the setup never takes the place of the host's newer one;
# the one beside is used when it is the host's, newer, or the host gives no settings at all.
@pytest.mark.parametrize("beside, served, installed, pak_fetched, said", [
    ("1.0", "2.0", "2.0", True, ["Beside the setup: release 1.0; web host: release 2.0 - newer "
                                 "or another build: files beside the setup ignored"]),
    ("2.0", "2.0", "2.0", False, ["Beside the setup: release 2.0; web host: release 2.0 - the "
                                  "same release: package from beside the setup"]),
    ("2.0", "1.0", "2.0", False, ["Beside the setup: release 2.0; web host: release 1.0 - older: "
                                  "the signed release beside the setup used"]),
    ("1.0", None, "1.0", False, ["Beside the setup: release 1.0; web host: Could not connect to ",
                                 " - the release beside the setup used"]),
])
def test_the_newer_of_the_release_beside_and_the_hosts_is_installed(machine, host, tmp_path,
                                                                    beside, served, installed,
                                                                    pak_fetched, said):
    products = {v: make_product(tmp_path / v, version=v) for v in ("1.0", "2.0")}
    machine.put_setup()
    put_beside(machine, products[beside])
    if served:
        host.publish(products[served])
    else:
        host.stop()
    log = machine.downloads / "log.txt"

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url),
                             "/LOG=" + machine.windows_path(log))

    text = log.read_text("utf-8")
    assert code == 0, text
    assert all(part in text for part in said), text
    assert (machine.install_dir / "readme.txt").read_text() == f"Tessaryn {installed}\n"
    requests = host.log.read_text("utf-8", "replace")
    assert ('"GET /installers/tessaryn.dat' in requests) == bool(served), requests
    assert ('"GET /installers/tessaryn.pak' in requests) == pak_fetched, requests


# With files beside the setup, a host that answers 503 gets one try, not the five (waits of
# 15 s in all) of a download the run cannot do without.
def test_the_hosts_settings_get_one_try_beside_files(machine, test_host, tmp_path):
    put_beside(machine, make_product(tmp_path / "p", version="1.0"))
    machine.put_setup()
    test_host.set_answer("/installers/tessaryn.dat", Answer(status=503))

    assert machine.run_setup("/VERYSILENT", url_switch(test_host.base_url)) == 0
    asked = [r for r in test_host.requests() if r["path"].endswith(".dat")]
    assert len(asked) == 1, asked
    assert (machine.install_dir / "readme.txt").read_text() == "Tessaryn 1.0\n"


# A setup built with a release floor of 2.0 takes nothing older from beside itself unless its
# web host names a release; the floor itself is allowed.
@pytest.mark.parametrize("beside, served, code, installed", [
    ("1.0", None, DOWNGRADE_REFUSED, None),
    ("2.0", None, 0, "2.0"),
    ("1.5", "1.0", DOWNGRADE_REFUSED, None),
    ("1.0", "1.0", 0, "1.0"),  # the host's very release: no floor
])
def test_files_beside_a_setup_with_a_floor_are_held_to_it(machine, host, tmp_path, beside, served,
                                                           code, installed):
    assert FLOOR_SETUP_EXE.exists(), f"{FLOOR_SETUP_EXE} is missing: see scripts/test"
    products = {v: make_product(tmp_path / v, version=v) for v in {beside, served} if v}
    shutil.copyfile(FLOOR_SETUP_EXE, machine.downloads / "TessarynSetup.exe")
    put_beside(machine, products[beside])
    if served:
        host.publish(products[served])
    else:
        host.stop()
    log = machine.downloads / "log.txt"

    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url),
                             "/LOG=" + machine.windows_path(log)) == code
    text = log.read_text("utf-8")
    if installed:
        assert (machine.install_dir / "readme.txt").read_text() == f"Tessaryn {installed}\n"
        return
    assert "the release beside the setup is below the floor 2.0" in text, text
    assert "Message (Older version): The setup files are older than this setup accepts." in text
    assert not machine.install_dir.exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None


# The answer to every event is {"action":1}: acted on only when signed for that very request.
# The package arrives slowly, so that an answer has long arrived before it is checked.
@pytest.mark.parametrize("signature, code", [("signed", HOST_ENDED), ("unsigned", 0),
                                              ("other-nonce", 0)])
def test_only_answers_signed_for_the_request_are_acted_on(machine, test_host, product, signature,
                                                          code):
    serve(test_host, product)
    body = (test_host.files / "tessaryn.pak").read_bytes()
    test_host.set_answer("/installers/tessaryn.pak",
                         Answer(body=body, chunk_size=len(body) // 4 + 1, chunk_delay=0.5))
    answer = {"signed": Answer(body=b'{"action":1}'),
              "unsigned": Answer(body=b'{"action":1}', headers={"Tessaryn-Answer-Signature": ""}),
              "other-nonce": Answer(body=b'{"action":1}', sign_for=(
                  b'{"event":5,"nonce":"00112233445566778899aabbccddeeff","prod":"Tessaryn",'
                  b'"uuid":"anon-0"}'))}[signature]
    test_host.set_answer("/installers/metrics", answer)
    machine.put_setup()

    assert machine.run_setup("/VERYSILENT", url_switch(test_host.base_url)) == code
    assert machine.install_dir.exists() == (code == 0)
    assert any(r["path"] == "/installers/metrics" for r in test_host.requests())


def test_a_trickling_host_holds_the_run_at_most_its_deadline(machine, test_host, product):
    serve(test_host, product)
    # A byte every 2 s: once 75 s for the answer to the completion event alone.
    test_host.set_answer("/installers/metrics",
                         Answer(body=b'{"msg":"late","action":1}', chunk_size=1, chunk_delay=2))
    machine.put_setup()
    machine.wine("cmd", "/c", "exit")  # Wine's own start-up is not the setup's time

    start = time.monotonic()
    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url), settle=False)
    elapsed = time.monotonic() - start

    assert code == 0, "the answer never came in time: the install completed as usual"
    assert (machine.install_dir / "unins000.exe").exists()
    # The completion event's 10 s, and at most 5 s more for events still on their way.
    assert elapsed < 25, f"the run took {elapsed:.1f} s"
