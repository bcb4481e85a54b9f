"""HTML rendering of the funnel report: a table and an inline SVG bar chart per product."""

from html import escape

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
svg rect.key { fill: #2e9e5b; }
form input { margin-right: 1em; }
"""


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
        kind = "key" if event["code"] in (5, 9) else "bar"
        parts.append(
            f'<rect class="{kind}" x="{x}" y="{y}" width="{BAR_WIDTH}" height="{bar}">'
            f'<title>{event["code"]} {escape(event["name"])}: {event["count"]}</title></rect>'
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
        f'<b>{product["completed"]}</b>; completion: <b>{_rate(product)}</b></p>'
        f"{_chart(product)}"
        f"<table><tr><th>Code</th><th>Event</th><th>Count</th></tr>{rows}</table></section>"
    )


def render_funnel(report, query_values):
    """The whole page; query_values are the raw parameters, echoed into the form."""

    def field(name):
        return escape(query_values.get(name, ""), quote=True)

    sections = "".join(_product_section(p) for p in report["products"])
    if not sections:
        sections = "<p>No events in this period.</p>"
    return (
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>Install funnel</title>"
        f"<style>{STYLE}</style></head><body>"
        "<h1>Install funnel</h1>"
        f'<p>Period: {escape(report["from"])} to {escape(report["to"])} (UTC)</p>'
        '<form method="get" action="/funnel">'
        f'<label>From <input type="date" name="from" value="{field("from")}"></label>'
        f'<label>To <input type="date" name="to" value="{field("to")}"></label>'
        '<input type="submit" value="Show"></form>'
        '<p><a href="/funnel?days=7">Last 7 days</a> · <a href="/funnel?days=30">last 30 days</a>'
        ' · <a href="/funnel?days=365">last year</a></p>'
        f"{sections}</body></html>\n"
    )
