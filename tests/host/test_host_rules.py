"""Answers from the publisher's rules file: matching, reloading, surviving broken edits."""

import json
import os
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "webhost"))

from tessaryn_webhost.rules import RulesError, answer_for, parse_rules  # noqa: E402

OLD_UA = "Setup/1.0 (Windows 10 Build 19045; x64; en-US)"
UA = "Setup/1.1 (Windows 10 Build 22631; ARM64; de-DE)"

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
user_agent = "; arm64;"
[rule.answer]
msg = "ARM"
icon_type = "question"

[[rule]]
events = [5, 9]
[rule.answer]
msg = "shadowed for 9 of tessaryn by the rule above"
icon_type = "warning"
"""


def event(host, code, prod="Tessaryn", ua=UA):
    status, headers, body = host.post_event({"event": code, "prod": prod, "uuid": "anon-r"}, user_agent=ua)
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
    assert event(ruled, 0, ua=OLD_UA) == {"msg": "Too old", "action": 1}
    assert event(ruled, 9, prod="TESSARYN") == {"url": "https://example.com/welcome"}
    assert event(ruled, 9, prod="other") == {"url": "https://example.com/welcome"}
    assert event(ruled, 4, prod="anything") == {"msg": "Setup failed", "title": "Sorry", "icon_type": "error"}
    assert event(ruled, 5) == {"msg": "ARM", "icon_type": "question"}
    assert event(ruled, 5, ua="Setup/1.1 (Windows 10; x64; en-US)")["icon_type"] == "warning"
    assert event(ruled, 9, prod="third")["icon_type"] == "warning"
    # No matching rule: an empty object, still 200.
    assert event(ruled, 7) == {}
    assert event(ruled, 0, prod="unknown", ua=OLD_UA) == {}
    assert len(ruled.rows()) == 9


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


def test_a_broken_rules_file_at_start_gives_no_rules_and_is_logged(start_host):
    host = start_host(rules_name="rules.toml", rules_text="[[rule]\n")
    assert event(host, 9) == {}
    assert "rejected" in host.log()


def test_setup_versions_compare_by_number():
    rules = parse_rules('[[rule]]\nsetup_version_below = "1.10"\n[rule.answer]\naction = 1\n', "toml")
    for agent, hit in [
        ("Setup/1.9 (Windows 10; x64; en)", True),
        ("Setup/1 (Windows 10; x64; en)", True),
        ("Setup/1.10 (Windows 10; x64; en)", False),
        ("Setup/1.10.0 (Windows 10; x64; en)", False),
        ("Setup/2.0 (Windows 10; x64; en)", False),
        ("MySetup/1.0", False),
        ("Mozilla/5.0", False),
        ("", False),
    ]:
        assert (answer_for(rules, 0, "p", agent) == {"action": 1}) is hit, agent


@pytest.mark.parametrize(
    "text",
    [
        '[[rule]]\nevents = 7\n[rule.answer]\naction = true\n',
        '[[rule]]\nevents = 11\n',
        '[[rule]]\nevent = 7\n',
        '[[rule]]\n[rule.answer]\nmessage = "typo in an answer key"\n',
        '[[rule]]\nproduct = []\n',
        '[[rule]]\nuser_agent = ""\n',
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
    assert answer_for(rules, 1, "Tessaryn", OLD_UA)["action"] == 1
    assert "url" in answer_for(rules, 9, "tessaryn", UA)
    assert answer_for(rules, 7, "tessaryn", UA) == {}
