"""The install funnel: the period and page from query parameters, and counts per product."""

from datetime import date, datetime, time, timedelta, timezone

from .events import EVENT_COMPLETED, EVENT_NAMES, EVENT_STARTED, EVENT_UNINSTALL
from .storage import utc_timestamp

DEFAULT_DAYS = 30
MAX_DAYS = 3660
# Products on one page, most events first: a page stays small however many names visitors invent.
PAGE_SIZE = 20
MAX_PAGE = 1000000
# An uninstall counts as part of an upgrade when the same machine reported removing a previous
# version at most this long before: the new setup runs the old uninstaller right after.
UPGRADE_WINDOW_S = 600


class BadPeriod(ValueError):
    pass


def _single(query, name):
    values = query.get(name)
    if not values:
        return None
    if len(values) > 1:
        raise BadPeriod(f'"{name}" given more than once')
    return values[0]


def _day(text, name):
    if len(text) == 10 and text[4] == "-" and text[7] == "-":
        try:
            return date.fromisoformat(text)
        except ValueError:
            pass
    raise BadPeriod(f'"{name}" must be a date like 2024-05-31')


def _start_of(day):
    return datetime.combine(day, time.min, tzinfo=timezone.utc)


def parse_period(query, now=None):
    """(start, end) in UTC, end exclusive, from a parsed query string.

    "from" and "to" are whole days, both included; "days=N" is the last N days up to now.
    """
    now = now or datetime.now(timezone.utc)
    first, last, days = _single(query, "from"), _single(query, "to"), _single(query, "days")
    if days is not None and (first is not None or last is not None):
        raise BadPeriod('give either "days" or "from"/"to", not both')
    if first is None and last is None:
        if days is None:
            count = DEFAULT_DAYS
        elif not days.isdigit() or not 1 <= int(days) <= MAX_DAYS:
            raise BadPeriod(f'"days" must be a whole number from 1 to {MAX_DAYS}')
        else:
            count = int(days)
        return now - timedelta(days=count), now
    last_day = _day(last, "to") if last is not None else now.date()
    first_day = _day(first, "from") if first is not None else last_day - timedelta(days=DEFAULT_DAYS - 1)
    if first_day > last_day:
        raise BadPeriod('"from" is after "to"')
    if (last_day - first_day).days >= MAX_DAYS:
        raise BadPeriod(f"the period is longer than {MAX_DAYS} days")
    return _start_of(first_day), _start_of(last_day + timedelta(days=1))


def parse_page(query):
    """The page number (from 1) of ?page=N."""
    text = _single(query, "page")
    if text is None:
        return 1
    if not (text.isascii() and text.isdigit()) or not 1 <= int(text) <= MAX_PAGE:
        raise BadPeriod(f'"page" must be a whole number from 1 to {MAX_PAGE}')
    return int(text)


def build_funnel(product_count, page_products, rows, start, end, page):
    """The report of one page from the store's answer (see SqliteStore.funnel_page).

    page_products are (name, total) in page order; rows are (name, code, count, upgrades).
    """
    counts = {name: {c: 0 for c in EVENT_NAMES} for name, _ in page_products}
    upgrades = dict.fromkeys(counts, 0)
    for name, code, count, upgrade_count in rows:
        if name in counts and code in EVENT_NAMES:
            counts[name][code] += count
            upgrades[name] += upgrade_count or 0
    report = []
    for name, total in page_products:
        events = counts[name]
        started, completed = events[EVENT_STARTED], events[EVENT_COMPLETED]
        report.append({
            "product": name,
            "total": total,
            "events": [{"code": c, "name": EVENT_NAMES[c], "count": events[c]} for c in EVENT_NAMES],
            "started": started,
            "completed": completed,
            # Counts, not machines: a period boundary between start and completion
            # can push this above 1.
            "completion_rate": round(completed / started, 4) if started else None,
            "upgrades": upgrades[name],
            "uninstalls": events[EVENT_UNINSTALL] - upgrades[name],
        })
    return {
        "from": utc_timestamp(start),
        "to": utc_timestamp(end),
        "page": page,
        "pages": max(1, -(-product_count // PAGE_SIZE)),
        "page_size": PAGE_SIZE,
        "product_count": product_count,
        "upgrade_window_s": UPGRADE_WINDOW_S,
        "products": report,
    }
