"""HTML rendering of the funnel report: a table and an inline SVG bar chart per product, and the login form."""

from datetime import datetime, timedelta, timezone
from html import escape
from urllib.parse import urlencode

from .events import EVENT_COMPLETED, EVENT_NAMES, EVENT_STARTED, EVENT_UNINSTALL

BAR_WIDTH = 36
BAR_GAP = 12
CHART_HEIGHT = 180
LABEL_SPACE = 40

STYLE = """
body { font-family: system-ui, sans-serif; margin: 2em; color: #222; }
table { border-collapse: collapse; margin: 1em 0; }
td, th { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: left; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
svg text { font-size: 11px; fill: #333; }
svg rect.bar { fill: #3a78c2; }
svg rect.key, .key { fill: #2e9e5b; background: #2e9e5b; }
svg rect.upgrade, .upgrade { fill: #b8b8b8; background: #b8b8b8; }
.bar { background: #3a78c2; }
.swatch { display: inline-block; width: 1em; height: 1em; vertical-align: middle; margin-right: 0.3em; }
dl.legend { display: grid; grid-template-columns: max-content auto; gap: 0.1em 1em; }
dl.legend dt { text-align: right; font-variant-numeric: tabular-nums; }
dl.legend dd { margin: 0; }
form input { margin-right: 1em; }
nav a, nav span { margin-right: 1em; }
"""

KEY_STEPS = (EVENT_STARTED, EVENT_COMPLETED)
# What each event means, for the legend.
MEANINGS = {
    0: "no package beside the setup, so it is downloaded",
    1: "a package beside the setup is used",
    2: "the setup information or the package failed its signature check",
    3: "installing the files failed",
    4: "a download failed",
    5: "the license was accepted (or skipped by a silent run): the key first step",
    6: "the license was declined: the user left the setup",
    7: "an earlier version is being removed, as in an upgrade",
    8: "a real uninstall, or the old uninstaller run by an upgrade (grey)",
    9: "the product is installed: the key last step",
    10: "the updater started the setup",
}


def _chart(product):
    events = product["events"]
    peak = max((e["count"] for e in events), default=0) or 1
    width = len(events) * (BAR_WIDTH + BAR_GAP) + BAR_GAP
    height = CHART_HEIGHT + LABEL_SPACE
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}"'
        f' viewBox="0 0 {width} {height}" role="img"'
        f' aria-label="events of {escape(product["product"])}">'
    ]
    for index, event in enumerate(events):
        x = BAR_GAP + index * (BAR_WIDTH + BAR_GAP)
        bar = round(event["count"] / peak * (CHART_HEIGHT - 20))
        y = CHART_HEIGHT - bar
        kind = "key" if event["code"] in KEY_STEPS else "bar"
        parts.append(
            f'<rect class="{kind}" x="{x}" y="{y}" width="{BAR_WIDTH}" height="{bar}">'
            f'<title>{event["code"]} {escape(event["name"])}: {event["count"]}</title></rect>'
        )
        if event["code"] == EVENT_UNINSTALL and product["upgrades"]:
            # The part of the bar that upgrades account for, on top and in grey.
            part = round(product["upgrades"] / peak * (CHART_HEIGHT - 20))
            parts.append(
                f'<rect class="upgrade" x="{x}" y="{y}" width="{BAR_WIDTH}" height="{part}">'
                f'<title>during an upgrade: {product["upgrades"]}</title></rect>'
            )
        parts.append(
            f'<text x="{x + BAR_WIDTH // 2}" y="{y - 4}" text-anchor="middle">{event["count"]}</text>'
            f'<text x="{x + BAR_WIDTH // 2}" y="{CHART_HEIGHT + 16}" text-anchor="middle">{event["code"]}</text>'
        )
    parts.append("</svg>")
    return "".join(parts)


def _rate(product):
    rate = product["completion_rate"]
    return "no installation started" if rate is None else f"{rate * 100:.1f}%"


def _product_section(product):
    name = escape(product["product"])
    rows = "".join(
        f'<tr><td class="n">{e["code"]}</td><td>{escape(e["name"])}</td>'
        f'<td class="n">{e["count"]}</td></tr>'
        for e in product["events"]
    )
    return (
        f"<section><h2>{name}</h2>"
        f'<p>Started installations (5): <b>{product["started"]}</b>; completed (9): '
        f'<b>{product["completed"]}</b>; completion: <b>{_rate(product)}</b>; '
        f'uninstalls (8): <b>{product["uninstalls"]}</b>; upgrades: <b>{product["upgrades"]}</b></p>'
        f"{_chart(product)}"
        f"<table><tr><th>Code</th><th>Event</th><th>Count</th></tr>{rows}</table></section>"
    )


def _moment(text):
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc)


def _day(moment):
    return f"{moment.day} {moment:%B %Y}"


def readable_period(first, end):
    """The period of the report (ISO texts, end exclusive) as people write it, in UTC."""
    start, end = _moment(first), _moment(end)
    if start.time() == end.time() == datetime.min.time():
        last = end - timedelta(days=1)
        return _day(start) if last == start else f"{_day(start)} to {_day(last)}"
    return f"{_day(start)} {start:%H:%M} to {_day(end)} {end:%H:%M}"


def _legend():
    swatches = (
        '<p><span class="swatch key"></span>key steps: 5 and 9, started and completed installations '
        '<span class="swatch bar"></span>other events '
        '<span class="swatch upgrade"></span>part of 8 sent during an upgrade</p>'
    )
    rows = "".join(
        f'<dt>{code}</dt><dd>{escape(EVENT_NAMES[code])}: {escape(MEANINGS[code])}</dd>' for code in EVENT_NAMES
    )
    return f'<details open><summary>What the bars show</summary>{swatches}<dl class="legend">{rows}</dl></details>'


def _pages(report, query_values):
    page, pages = report["page"], report["pages"]

    def link(number, text):
        query = urlencode([*((k, v) for k, v in query_values.items() if k in ("from", "to", "days")),
                           ("page", str(number))])
        return f'<a href="/funnel?{escape(query, quote=True)}">{text}</a>'

    first = (page - 1) * report["page_size"] + 1
    shown = len(report["products"])
    summary = (f"<span>products {first} to {first + shown - 1} of {report['product_count']}, most events first</span>"
               if shown else f"<span>{report['product_count']} products</span>")
    parts = [summary, f"<span>page {page} of {pages}</span>"]
    if page > 1:
        parts.append(link(1, "first") + link(min(page - 1, pages), "previous"))
    if page < pages:
        parts.append(link(page + 1, "next") + link(pages, "last"))
    return f"<nav>{''.join(parts)}</nav>"


def _document(title, body):
    return (
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        f"<title>{title}</title>"
        '<link rel="icon" href="data:,">'
        f"<style>{STYLE}</style></head><body>{body}</body></html>\n"
    )


def render_funnel(report, query_values, sign_out=False):
    """The whole page; query_values are the raw period parameters, echoed into the form and links.
    With sign_out, a button that ends the browser's session."""

    def field(name):
        return escape(query_values.get(name, ""), quote=True)

    sections = "".join(_product_section(p) for p in report["products"])
    if not sections:
        sections = "<p>No events in this period.</p>" if report["page"] == 1 else "<p>No products on this page.</p>"
    minutes = report["upgrade_window_s"] // 60
    button = ('<form method="post" action="/funnel/logout"><input type="submit" value="Sign out"></form>'
              if sign_out else "")
    return _document("Install funnel", (
        f"<h1>Install funnel</h1>{button}"
        f'<p>Period: <b>{escape(readable_period(report["from"], report["to"]))}</b> (UTC)</p>'
        '<form method="get" action="/funnel">'
        f'<label>From <input type="date" name="from" value="{field("from")}"></label>'
        f'<label>To <input type="date" name="to" value="{field("to")}"></label>'
        '<input type="submit" value="Show"></form>'
        '<p><a href="/funnel?days=7">Last 7 days</a> · <a href="/funnel?days=30">last 30 days</a>'
        ' · <a href="/funnel?days=365">last year</a></p>'
        f"{_legend()}"
        f"<p>An uninstall (8) counts as an upgrade when the same machine reported removing a previous "
        f"version (7) at most {minutes} minutes before it.</p>"
        f"{_pages(report, query_values)}{sections}{_pages(report, query_values)}"
    ))


def render_login(wrong, back_query):
    """The form a publisher's browser uses to give the funnel token once; it sets a cookie."""
    message = "<p><b>That token is not right.</b></p>" if wrong else ""
    return _document("Install funnel: sign in", (
        "<h1>Install funnel</h1>"
        f"{message}<p>This page belongs to the publisher. Enter the funnel token.</p>"
        '<form method="post" action="/funnel/login">'
        '<label>Token <input type="password" name="token" autocomplete="current-password" autofocus></label>'
        f'<input type="hidden" name="query" value="{escape(back_query, quote=True)}">'
        '<input type="submit" value="Sign in"></form>'
    ))
