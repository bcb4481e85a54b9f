"""Answers from the publisher's rules file: matching, reloading, surviving broken edits."""

import json
import os
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "webhost"))

from tessaryn_webhost.events import Event  # noqa: E402
from tessaryn_webhost.rules import RulesError, answer_for, parse_rules  # noqa: E402

UA = "Setup/1.1 (Windows 10 Build 22631; ARM64; de-DE)"
# What a setup says of itself in the signed body; None leaves the key out, as older setups do.
ARM = {"sys": "Windows 10 Build 22631; ARM64; de-DE", "ver": "1.1"}
X64 = {"sys": "Windows 10 Build 19045; x64; en-US", "ver": "1.1"}
OLD = {"sys": "Windows 10 Build 19045; x64; en-US", "ver": "1.0"}
BEFORE = {"sys": None, "ver": None}

RULES = """
[[rule]]
product = "Tessaryn"
setup_version_below = "1.1"
[rule.answer]
msg = "Too old"
action = 1

[[rule]]
events = 9
product = ["tessaryn", "Other"]
[rule.answer]
url = "https://example.com/welcome"

[[rule]]
events = [3, 4]
[rule.answer]
msg = "Setup failed"
title = "Sorry"
icon_type = "error"

[[rule]]
events = 5
system = "; arm64;"
[rule.answer]
msg = "ARM"
icon_type = "question"

[[rule]]
events = [5, 9]
[rule.answer]
msg = "shadowed for 9 of tessaryn by the rule above"
icon_type = "warning"
"""


def event(host, code, prod="Tessaryn", setup=ARM, ua=UA):
    fields = {k: v for k, v in setup.items() if v is not None}
    status, headers, body = host.post_event({"event": code, "prod": prod, "uuid": "anon-r", **fields}, user_agent=ua)
    assert status == 200
    assert headers["Content-Type"] == "application/json"
    return json.loads(body)


def rewrite(path, text):
    """Writes the rules and moves the modification time on, as a later edit would."""
    stamp = path.stat().st_mtime_ns if path.exists() else time.time_ns()
    path.write_text(text, encoding="utf-8")
    os.utime(path, ns=(stamp + 2_000_000_000, stamp + 2_000_000_000))


@pytest.fixture
def ruled(start_host):
    return start_host(rules_name="rules.toml", rules_text=RULES)


def test_each_answer_kind_and_first_match_wins(ruled):
    assert event(ruled, 0, setup=OLD) == {"msg": "Too old", "action": 1}
    assert event(ruled, 9, prod="TESSARYN") == {"url": "https://example.com/welcome"}
    assert event(ruled, 9, prod="other") == {"url": "https://example.com/welcome"}
    assert event(ruled, 4, prod="anything") == {"msg": "Setup failed", "title": "Sorry", "icon_type": "error"}
    assert event(ruled, 5) == {"msg": "ARM", "icon_type": "question"}
    assert event(ruled, 5, setup=X64)["icon_type"] == "warning"
    assert event(ruled, 9, prod="third")["icon_type"] == "warning"
    # No matching rule: an empty object, still 200.
    assert event(ruled, 7) == {}
    assert event(ruled, 0, prod="unknown", setup=OLD) == {}
    assert len(ruled.rows()) == 9


@pytest.mark.parametrize("setup, ua, expected", [
    # A relay that rewrites only the User-Agent changes nothing: rules read the signed body.
    (X64, UA, "warning"),
    (X64, "Setup/1.0 (Windows 10 Build 22631; ARM64; de-DE)", "warning"),
    (ARM, "Setup/1.1 (Windows 10; x64; en-US)", "question"),
    (OLD, UA, "error"),
    # Bodies of setups that send neither field are taken; rules on those fields do not match them.
    (BEFORE, "Setup/1.0 (Windows 10 Build 22631; ARM64; de-DE)", "warning"),
    ({"sys": None, "ver": "1.0"}, UA, "error"),
    ({"sys": "Windows 11; ARM64; en", "ver": None}, UA, "question"),
    ({"sys": "; arm64;", "ver": "1.x"}, UA, "question"),
])
def test_rules_read_the_body_never_the_user_agent(start_host, setup, ua, expected):
    rules = (
        '[[rule]]\nsetup_version_below = "1.1"\n[rule.answer]\nicon_type = "error"\n'
        '[[rule]]\nsystem = "; arm64;"\n[rule.answer]\nicon_type = "question"\n'
        '[[rule]]\n[rule.answer]\nicon_type = "warning"\n'
    )
    host = start_host(rules_name="rules.toml", rules_text=rules)
    assert event(host, 5, setup=setup, ua=ua) == {"icon_type": expected}


def test_edits_are_picked_up_and_broken_edits_keep_the_last_good_rules(ruled):
    assert event(ruled, 7) == {}
    rewrite(ruled.rules, '[[rule]]\nevents = 7\n[rule.answer]\nmsg = "new"\n')
    assert event(ruled, 7) == {"msg": "new"}

    broken = [
        '[[rule]]\nevents = 7\n[rule.answer\nmsg = "x"\n',  # not TOML
        '[[rule]]\nevents = 7\n[rule.answer]\nicon_type = "fatal"\n',
    ]
    for text in broken:
        rewrite(ruled.rules, text)
        assert event(ruled, 7) == {"msg": "new"}, text
    assert ruled.log().count("rejected, keeping the last good rules") == len(broken)

    ruled.rules.unlink()
    assert event(ruled, 7) == {"msg": "new"}
    rewrite(ruled.rules, "")
    assert event(ruled, 7) == {}


def test_json_rules_file(start_host):
    rules = {"rule": [{"events": [1], "product": "tessaryn", "answer": {"msg": "local", "title": "T"}}]}
    host = start_host(rules_name="rules.json", rules_text=json.dumps(rules))
    assert event(host, 1) == {"msg": "local", "title": "T"}
    assert event(host, 0) == {}


def test_a_host_without_rules_answers_empty_objects(host):
    assert event(host, 9) == {}


@pytest.mark.parametrize("text, reason", [
    ("[[rule]\n", "cannot parse"),
    # A rule of an older file that matched on the User-Agent must not turn into one matching all.
    ('[[rule]]\nuser_agent = "; ARM64;"\n[rule.answer]\naction = 1\n',
     '"user_agent" is no longer accepted; rules match only the signed event body'),
])
def test_a_rules_file_that_does_not_load_at_start_stops_the_start(start_host, text, reason):
    with pytest.raises(RuntimeError) as stopped:
        start_host(rules_name="rules.toml", rules_text=text)
    assert "cannot start: rules file" in str(stopped.value) and reason in str(stopped.value)


def test_setup_versions_compare_by_number():
    # Either side may be the shorter one; missing parts count as 0 on both.
    for below, version, hit in [
        ("1.10", "1.9", True),
        ("1.10", "1", True),
        ("1.10", "1.10", False),
        ("1.10", "1.10.0", False),
        ("1.10", "1.10.1", False),
        ("1.10", "2.0", False),
        ("1.10.0", "1.10", False),
        ("1.10.1", "1.10", True),
        ("1.0.0", "1", False),
        ("2", "1.99.99", True),
        ("1.10", "Setup/1.0", False),
        ("1.10", "1.0 ", False),
        ("1.10", "", False),
        ("1.10", None, False),
    ]:
        rules = parse_rules(f'[[rule]]\nsetup_version_below = "{below}"\n[rule.answer]\naction = 1\n', "toml")
        assert (answer_for(rules, Event(0, "p", "u", None, version)) == {"action": 1}) is hit, (below, version)


@pytest.mark.parametrize(
    "text",
    [
        '[[rule]]\nevents = 7\n[rule.answer]\naction = true\n',
        '[[rule]]\nevents = 11\n',
        '[[rule]]\nevent = 7\n',
        '[[rule]]\n[rule.answer]\nmessage = "typo in an answer key"\n',
        '[[rule]]\nproduct = []\n',
        '[[rule]]\nsystem = ""\n',
        '[[rule]]\nuser_agent = "Setup/1.1"\n',
        '[[rule]]\nsetup_version_below = "1.x"\n',
        '[[rule]]\nevents = [true]\n',
        '[[rule]]\n[rule.answer]\nurl = 5\n',
        '[[rule]]\n[rule.answer]\naction = 2\n',
        'rule = 5\n',
        'rules = []\n',
    ],
)
def test_rule_mistakes_are_refused(text):
    with pytest.raises(RulesError):
        parse_rules(text, "toml")


def test_the_example_rules_file_loads_and_answers():
    example = Path(__file__).resolve().parents[2] / "tools" / "webhost" / "rules.example.toml"
    rules = parse_rules(example.read_text(encoding="utf-8"), "toml")
    assert answer_for(rules, Event(1, "Tessaryn", "u", OLD["sys"], OLD["ver"]))["action"] == 1
    assert "url" in answer_for(rules, Event(9, "tessaryn", "u", ARM["sys"], ARM["ver"]))
    assert answer_for(rules, Event(7, "tessaryn", "u", ARM["sys"], ARM["ver"])) == {}
    assert "ARM64" in answer_for(rules, Event(5, "other", "u", ARM["sys"], ARM["ver"]))["msg"]
