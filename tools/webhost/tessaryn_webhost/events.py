"""Usage event codes and validation of the bodies that setups post."""

import json
from typing import NamedTuple

EVENT_NAMES = {
    0: "package download needed",
    1: "local package used",
    2: "invalid signature",
    3: "installation error",
    4: "download failed",
    5: "installation started",
    6: "setup exited at license",
    7: "previous version found",
    8: "uninstall started",
    9: "installation complete",
    10: "started by updater",
}

EVENT_STARTED = 5
EVENT_UNINSTALL = 8
EVENT_COMPLETED = 9

# Real identifiers are 37 characters and product names are short; anything far
# longer is garbage or abuse and must not grow the database.
MAX_TEXT_LENGTH = 256


class Event(NamedTuple):
    code: int
    product: str
    machine_id: str
    # What the setup says of itself, inside the signed body; None from setups that send neither.
    system: str | None
    version: str | None


class BadEvent(ValueError):
    """The body is not a valid usage event; the message is shown to the client."""


def _reject_constant(name):
    raise BadEvent(f"invalid JSON: {name} is not allowed")


def _text_field(body, key, optional=False):
    if key not in body:
        if optional:
            return None
        raise BadEvent(f'missing key "{key}"')
    value = body[key]
    if not isinstance(value, str):
        raise BadEvent(f'"{key}" must be a string')
    if len(value) > MAX_TEXT_LENGTH:
        raise BadEvent(f'"{key}" is longer than {MAX_TEXT_LENGTH} characters')
    if "\x00" in value:
        raise BadEvent(f'"{key}" must not contain NUL characters')
    return value


def parse_event(raw):
    """Returns the Event in the raw request body or raises BadEvent."""
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise BadEvent("body is not valid UTF-8") from None
    try:
        body = json.loads(text, parse_constant=_reject_constant)
    except json.JSONDecodeError as e:
        raise BadEvent(f"invalid JSON: {e.msg} at position {e.pos}") from None
    except RecursionError:
        raise BadEvent("invalid JSON: nested too deeply") from None
    if not isinstance(body, dict):
        raise BadEvent("body must be a JSON object")
    if "event" not in body:
        raise BadEvent('missing key "event"')
    code = body["event"]
    # bool is a subclass of int in Python, but true is not an event code.
    if type(code) is not int:
        raise BadEvent('"event" must be an integer')
    if code not in EVENT_NAMES:
        raise BadEvent(f"unknown event code {code}; codes are 0 to {max(EVENT_NAMES)}")
    return Event(code, _text_field(body, "prod"), _text_field(body, "uuid"),
                 _text_field(body, "sys", optional=True), _text_field(body, "ver", optional=True))
