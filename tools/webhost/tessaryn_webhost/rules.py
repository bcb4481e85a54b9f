"""The publisher's answer rules: loading, checking, matching and reloading on change."""

import json
import logging
import os
import re
import threading

from .events import EVENT_NAMES

log = logging.getLogger("tessaryn_webhost.rules")

ICON_TYPES = ("error", "warning", "info", "question")
ANSWER_KEYS = {"url", "msg", "title", "icon_type", "action"}
RULE_KEYS = {"events", "product", "system", "setup_version_below", "answer"}
# Keys of older rules files that no longer mean anything: refused with what to write instead,
# so that a rule is never silently read as matching everything.
RETIRED_KEYS = {
    "user_agent": 'rules match only the signed event body, never the User-Agent: write "system" '
                  '(matched in the system description the setup sends, such as "; arm64;")',
}

_VERSION = re.compile(r"\d+(\.\d+)*")


class RulesError(ValueError):
    pass


def _version_tuple(text, where):
    if not isinstance(text, str) or not _VERSION.fullmatch(text):
        raise RulesError(f'{where}: "setup_version_below" must be a version text like "1.1"')
    return tuple(int(part) for part in text.split("."))


def _compare_versions(a, b):
    width = max(len(a), len(b))
    return (a + (0,) * (width - len(a))) < (b + (0,) * (width - len(b)))


def setup_version(text):
    """The version an event names ("1.1"), or None when it names none or not a version."""
    if not text or not _VERSION.fullmatch(text):
        return None
    return tuple(int(p) for p in text.split("."))


def _check_answer(answer, where):
    if not isinstance(answer, dict):
        raise RulesError(f'{where}: "answer" must be a table')
    unknown = set(answer) - ANSWER_KEYS
    if unknown:
        raise RulesError(f"{where}: unknown answer keys {sorted(unknown)}")
    for key in ("url", "msg", "title"):
        if key in answer and not isinstance(answer[key], str):
            raise RulesError(f'{where}: answer "{key}" must be a string')
    if "icon_type" in answer and answer["icon_type"] not in ICON_TYPES:
        raise RulesError(f'{where}: answer "icon_type" must be one of {", ".join(ICON_TYPES)}')
    if "action" in answer and (type(answer["action"]) is not int or answer["action"] not in (0, 1)):
        raise RulesError(f'{where}: answer "action" must be 1 (end the setup) or 0')
    return dict(answer)


def _check_rule(rule, where):
    if not isinstance(rule, dict):
        raise RulesError(f"{where}: must be a table")
    retired = sorted(set(rule) & set(RETIRED_KEYS))
    if retired:
        raise RulesError(f'{where}: "{retired[0]}" is no longer accepted; {RETIRED_KEYS[retired[0]]}')
    unknown = set(rule) - RULE_KEYS
    if unknown:
        raise RulesError(f"{where}: unknown keys {sorted(unknown)}")
    checked = {"answer": _check_answer(rule.get("answer", {}), where)}
    if "events" in rule:
        events = rule["events"]
        events = events if isinstance(events, list) else [events]
        for code in events:
            if type(code) is not int or code not in EVENT_NAMES:
                raise RulesError(f'{where}: "events" must hold event codes 0 to {max(EVENT_NAMES)}')
        checked["events"] = frozenset(events)
    if "product" in rule:
        products = rule["product"]
        products = products if isinstance(products, list) else [products]
        if not products or not all(isinstance(p, str) for p in products):
            raise RulesError(f'{where}: "product" must be a name or a list of names')
        checked["product"] = frozenset(p.lower() for p in products)
    if "system" in rule:
        if not isinstance(rule["system"], str) or not rule["system"]:
            raise RulesError(f'{where}: "system" must be a non-empty text')
        checked["system"] = rule["system"].lower()
    if "setup_version_below" in rule:
        checked["setup_version_below"] = _version_tuple(rule["setup_version_below"], where)
    return checked


def parse_rules(text, fmt):
    """Checks a whole rules document ("toml" or "json") and returns its rules in order."""
    try:
        if fmt == "toml":
            import tomllib

            document = tomllib.loads(text)
        else:
            document = json.loads(text)
    except ValueError as e:  # both parsers' errors derive from ValueError
        raise RulesError(f"cannot parse: {e}") from None
    if not isinstance(document, dict):
        raise RulesError('top level must be a table with a "rule" list')
    unknown = set(document) - {"rule"}
    if unknown:
        raise RulesError(f"unknown top-level keys {sorted(unknown)}")
    rules = document.get("rule", [])
    if not isinstance(rules, list):
        raise RulesError('"rule" must be a list of tables')
    return [_check_rule(rule, f"rule {index + 1}") for index, rule in enumerate(rules)]


def matches(rule, event):
    """Whether the rule holds for an Event; a condition on a field the event lacks does not hold."""
    if "events" in rule and event.code not in rule["events"]:
        return False
    if "product" in rule and event.product.lower() not in rule["product"]:
        return False
    if "system" in rule and (event.system is None or rule["system"] not in event.system.lower()):
        return False
    if "setup_version_below" in rule:
        version = setup_version(event.version)
        if version is None or not _compare_versions(version, rule["setup_version_below"]):
            return False
    return True


def answer_for(rules, event):
    for rule in rules:
        if matches(rule, event):
            return dict(rule["answer"])
    return {}


class RulesFile:
    """Rules read from a file and re-read whenever its modification time or size changes.

    A file that fails to load keeps the last good rules in force, so a typo in an edit
    never silences or breaks the answers that setups already get.
    """

    def __init__(self, path, strict=False):
        """With strict, a file that does not load at once raises RulesError (start-up)."""
        self._path = path
        self._format = "json" if path and path.lower().endswith(".json") else "toml"
        self._lock = threading.Lock()
        self._rules = []
        self._seen = None
        if path:
            self.refresh(strict)

    def _signature(self):
        try:
            info = os.stat(self._path)
        except FileNotFoundError:
            return "missing"
        return (info.st_mtime_ns, info.st_size, info.st_ino)

    def refresh(self, strict=False):
        signature = self._signature()
        if signature == self._seen:
            return
        self._seen = signature
        if signature == "missing" and strict:
            raise RulesError(f"rules file {self._path} not found")
        if signature == "missing":
            log.error("rules file %s not found; keeping the last good rules (%d)",
                      self._path, len(self._rules))
            return
        try:
            with open(self._path, encoding="utf-8") as f:
                text = f.read()
            self._rules = parse_rules(text, self._format)
            log.info("rules file %s loaded: %d rule(s)", self._path, len(self._rules))
        except (OSError, UnicodeDecodeError, RulesError) as e:
            if strict:
                raise RulesError(f"rules file {self._path} rejected: {e}") from None
            log.error("rules file %s rejected, keeping the last good rules (%d): %s",
                      self._path, len(self._rules), e)

    def answer(self, event):
        if not self._path:
            return {}
        with self._lock:
            self.refresh()
            rules = self._rules
        return answer_for(rules, event)
