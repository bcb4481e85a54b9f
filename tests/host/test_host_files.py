"""Installer files: served exactly, nothing outside the files folder ever."""

import os

import pytest

CACHE_HEADERS = ("Cache-Control", "Expires", "ETag", "Last-Modified", "Pragma")


@pytest.fixture(scope="module")
def stocked(shared_host):
    host = shared_host
    payloads = {
        "tessaryn.dat": os.urandom(1000) + b"\x00\r\n" * 10,
        "tessaryn.pak": os.urandom(300_000),  # several send chunks
        "empty.dat": b"",
    }
    for name, data in payloads.items():
        (host.files / name).write_bytes(data)
    # A secret beside the folder, which traversal attempts aim at.
    (host.folder / "secret.dat").write_bytes(b"SECRET")
    os.symlink(host.folder / "secret.dat", host.files / "outside.dat")
    (host.files / "sub").mkdir()
    (host.files / "sub" / "tessaryn.dat").write_bytes(b"SUB")
    (host.files / ".hidden.dat").write_bytes(b"HIDDEN")
    (host.files / "Tessaryn.dat").write_bytes(b"UPPER")
    (host.files / "folder.pak").mkdir()
    return host, payloads


def test_files_are_served_byte_identical_without_cache_headers(stocked):
    host, payloads = stocked
    for name, data in payloads.items():
        status, headers, body = host.request("GET", f"/installers/{name}")
        assert status == 200, name
        assert body == data, name
        assert headers["Content-Length"] == str(len(data))
        assert headers["Content-Type"] == "application/octet-stream"
        assert not [h for h in CACHE_HEADERS if h in headers]

    status, headers, body = host.request("HEAD", "/installers/tessaryn.pak")
    assert (status, body) == (200, b"")
    assert headers["Content-Length"] == str(len(payloads["tessaryn.pak"]))

    # The client sends cache-defeating headers and sometimes a query; neither changes the answer.
    status, _, body = host.request(
        "GET", "/installers/tessaryn.dat?x=1", headers={"Cache-Control": "no-cache", "Pragma": "no-cache"}
    )
    assert (status, body) == (200, payloads["tessaryn.dat"])


@pytest.mark.parametrize(
    "path",
    [
        "/installers/missing.dat",
        "/installers/tessaryn.exe",
        "/installers/tessaryn",
        "/installers/Tessaryn.dat",
        "/installers/sub/tessaryn.dat",
        "/installers/folder.pak",
        "/installers/",
        "/tessaryn.dat",
        "/",
    ],
)
def test_anything_but_an_installer_file_is_404(stocked, path):
    host, _ = stocked
    status, headers, body = host.request("GET", path)
    assert status == 404
    assert headers["Content-Type"] == "application/json"
    assert b"error" in body


@pytest.mark.parametrize(
    "path",
    [
        "/installers/../secret.dat",
        "/installers/..%2fsecret.dat",
        "/installers/%2e%2e/secret.dat",
        "/installers/%2E%2E%2Fsecret.dat",
        "/installers/..\\secret.dat",
        "/installers/..%5csecret.dat",
        "/installers/sub/../../secret.dat",
        "/installers//" + "{folder}/secret.dat",
        "/installers/outside.dat",
        "/installers/.hidden.dat",
        "/installers/secret.dat%00.dat",
    ],
)
def test_paths_out_of_the_folder_are_refused(stocked, path):
    host, _ = stocked
    status, _, body = host.request("GET", path.format(folder=str(host.folder).lstrip("/")))
    assert status == 404
    assert b"SECRET" not in body and b"HIDDEN" not in body


def test_files_take_only_get_and_head(stocked):
    host, _ = stocked
    for method in ("POST", "PUT", "DELETE"):
        status, headers, _ = host.request(method, "/installers/tessaryn.dat", body=b"x")
        assert status == 405, method
        assert headers["Allow"] == "GET, HEAD"
    assert (host.files / "tessaryn.dat").read_bytes() != b"x"
