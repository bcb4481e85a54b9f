"""Runs a test program with the test web host running beside it.

Wine test programs cannot start Linux processes, so CTest starts this wrapper instead:

    python3 tests/support/run_with_server.py [--root DIR] [--trust-helper EXE] [--emulator CMD]
        [--timeout S] -- <emulator> <test.exe> [args...]

It starts an HTTP host and three HTTPS hosts (127.0.0.1, ephemeral ports; certificates from one
throw-away CA: one for 127.0.0.1 and localhost, one for another name, one expired), optionally runs `<emulator> <EXE> <ca.der>` to make the
Wine prefix trust that CA (tests/support/trust_ca.cpp), then runs the command with these
variables in its environment (Wine hands them to Windows programs) and returns its exit code:

    TESSARYN_TEST_SERVER        http://127.0.0.1:PORT (its answers to events signed with the
                                development answers key, build/dev-key/answers.key)
    TESSARYN_TEST_SERVER_HTTPS  https://127.0.0.1:PORT
    TESSARYN_TEST_SERVER_HTTPS_OTHER_NAME, TESSARYN_TEST_SERVER_HTTPS_EXPIRED
                                the same with a certificate for another name, or expired
    TESSARYN_TEST_CA_DER        the CA certificate (DER) as a Windows path (Z:\\...)
    TESSARYN_TEST_FILES         the served folder as a Windows path, when --root is given
    TESSARYN_TEST_SCRATCH       a fresh folder for the test's files (Windows path); its
                                "full.bin" is a link to /dev/full, where every write fails as on
                                a full disk
"""

import argparse
import os
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from web_host import WebHost, make_test_certificates  # noqa: E402


# The development answers key (scripts/dev-key): the plain host signs its answers to events.
DEV_ANSWERS_KEY = Path(__file__).resolve().parents[2] / "build" / "dev-key" / "answers.key"


def windows_path(path: Path) -> str:
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", help="folder served by both hosts")
    parser.add_argument("--trust-helper", help="Windows program that adds a DER CA to Root")
    parser.add_argument("--emulator", help="runs the trust helper (scripts/wine-run)")
    parser.add_argument("--timeout", type=float, default=540)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    answers_key = DEV_ANSWERS_KEY if DEV_ANSWERS_KEY.exists() else None
    if not command:
        parser.error("no command given")

    with tempfile.TemporaryDirectory(prefix="tessaryn-host-") as scratch:
        tls = Path(scratch) / "tls"
        certs = make_test_certificates(tls)
        other_name = make_test_certificates(tls, ("other.invalid",), ca=certs)
        expired = make_test_certificates(tls, expired=True, ca=certs)
        files = Path(scratch) / "scratch"
        files.mkdir()
        (files / "full.bin").symlink_to("/dev/full")
        root = args.root
        with WebHost(root=root, answers_key=answers_key) as plain, WebHost(root=root, tls=certs) as secure, \
                WebHost(root=root, tls=other_name) as misnamed, \
                WebHost(root=root, tls=expired) as outdated:
            env = dict(os.environ)
            env["TESSARYN_TEST_SERVER"] = plain.base_url
            env["TESSARYN_TEST_SERVER_HTTPS"] = secure.base_url
            env["TESSARYN_TEST_SERVER_HTTPS_OTHER_NAME"] = misnamed.base_url
            env["TESSARYN_TEST_SERVER_HTTPS_EXPIRED"] = outdated.base_url
            env["TESSARYN_TEST_CA_DER"] = windows_path(certs.ca_der)
            env["TESSARYN_TEST_SCRATCH"] = windows_path(files)
            if root:
                env["TESSARYN_TEST_FILES"] = windows_path(Path(root))
            if args.trust_helper:
                runner = [args.emulator] if args.emulator else []
                trust = subprocess.run(runner + [args.trust_helper, env["TESSARYN_TEST_CA_DER"]],
                                       env=env, timeout=120)
                if trust.returncode != 0:
                    print("run_with_server: trusting the test CA failed", file=sys.stderr)
                    return trust.returncode or 1
            try:
                return subprocess.run(command, env=env, timeout=args.timeout).returncode
            except subprocess.TimeoutExpired:
                print(f"run_with_server: {command[-1]} timed out", file=sys.stderr)
                return 124


if __name__ == "__main__":
    sys.exit(main())
