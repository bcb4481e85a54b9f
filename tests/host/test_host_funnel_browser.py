"""The funnel page in a real browser: headless Chromium driven through chromedriver's WebDriver API.

The publisher signs in with the token through the page's own form, sees the numbers of a known
event set, and the browser reports no console errors (a blocked style or a failed load would be one).
A screenshot is kept in build/artifacts/.
"""

import base64
import json
import os
import shutil
import socket
import subprocess
import time
import urllib.error
import urllib.request

import pytest

from conftest import ROOT

ARTIFACTS = ROOT / "build" / "artifacts"
TOKEN = "browser-test-token-0123456789"
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Driver:
    def __init__(self, tmp_path):
        chromium, driver = shutil.which("chromium"), shutil.which("chromedriver")
        if not chromium or not driver:
            # CI ran scripts/bootstrap, which installs them: missing there is a failure, not a skip.
            (pytest.fail if os.environ.get("CI") else pytest.skip)(
                "chromium and chromium-driver are not installed; scripts/bootstrap installs them")
        self.port = _free_port()
        self.log = open(tmp_path / "chromedriver.log", "wb")
        self.process = subprocess.Popen([driver, f"--port={self.port}"], stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while True:
            try:
                self._call("GET", "/status")
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        options = {"binary": chromium, "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                                                 "--disable-dev-shm-usage", "--window-size=1200,1600",
                                                 f"--user-data-dir={tmp_path / 'profile'}"]}
        capabilities = {"browserName": "chrome", "goog:chromeOptions": options,
                        "goog:loggingPrefs": {"browser": "ALL"}}
        answer = self._call("POST", "/session", {"capabilities": {"alwaysMatch": capabilities}})
        self.session = f"/session/{answer['sessionId']}"

    def _call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as response:
                return json.loads(response.read())["value"]
        except urllib.error.HTTPError as e:
            raise AssertionError(f"{method} {path}: {e.read()[:500]!r}") from None

    def __call__(self, method, path, body=None):
        return self._call(method, self.session + path, body)

    def find(self, css):
        return self("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]

    def quit(self):
        try:
            self._call("DELETE", self.session)
        finally:
            self.process.terminate()
            self.process.wait(timeout=10)
            self.log.close()


def console_errors(driver):
    """The browser's errors and warnings since the last call (reading the log empties it)."""
    return [e for e in driver("POST", "/se/log", {"type": "browser"}) if e["level"] in ("SEVERE", "WARNING")]


@pytest.fixture
def driver(tmp_path):
    d = Driver(tmp_path)
    yield d
    d.quit()


def test_publisher_signs_in_and_sees_the_funnel(start_host, tmp_path, driver):
    token_file = tmp_path / "token"
    token_file.write_text(TOKEN + "\n")
    host = start_host(extra_args=["--funnel-token", str(token_file)])
    rows = [("2024-05-03T10:00:00.000Z", 5, "Tessaryn", "a")] * 7
    rows += [("2024-05-03T10:05:00.000Z", 9, "Tessaryn", "a")] * 6
    # One upgrade (7 then 8 from machine b) and two real uninstalls.
    rows += [("2024-05-04T10:00:00.000Z", 7, "Tessaryn", "b"), ("2024-05-04T10:01:00.000Z", 8, "Tessaryn", "b"),
             ("2024-05-05T10:00:00.000Z", 8, "Tessaryn", "c"), ("2024-05-06T10:00:00.000Z", 8, "Tessaryn", "d")]
    host.sql("INSERT INTO events (time, event, product, uuid, user_agent, client) VALUES (?, ?, ?, ?, 'ua', 'c')",
             rows)

    driver("POST", "/url", {"url": f"http://127.0.0.1:{host.port}/funnel?from=2024-05-01&to=2024-05-31"})
    assert driver("GET", "/title") == "Install funnel: sign in"
    # The sign-in page comes with its 401, which the browser reports; nothing else may go wrong.
    assert [e["message"].split(" - ")[-1] for e in console_errors(driver)] == [
        "Failed to load resource: the server responded with a status of 401 (Unauthorized)"]
    driver("POST", f"/element/{driver.find('input[name=token]')}/value", {"text": TOKEN})
    driver("POST", f"/element/{driver.find('input[type=submit]')}/click", {})

    deadline = time.monotonic() + 20
    while driver("GET", "/title") != "Install funnel" and time.monotonic() < deadline:
        time.sleep(0.2)
    text = driver("GET", f"/element/{driver.find('body')}/text")
    assert "1 May 2024 to 31 May 2024" in text
    summary = driver("GET", f"/element/{driver.find('section p')}/text")
    assert summary == ("Started installations (5): 7; completed (9): 6; completion: 85.7%; "
                       "uninstalls (8): 2; upgrades: 1")
    assert "the license was declined" in text  # the legend

    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    (ARTIFACTS / "funnel-page.png").write_bytes(base64.b64decode(driver("GET", "/screenshot")))
    assert console_errors(driver) == []
