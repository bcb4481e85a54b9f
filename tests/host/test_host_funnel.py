"""The funnel report: counts per product and event over a period, as JSON and as a page."""

import json
from datetime import datetime, timedelta, timezone
from html.parser import HTMLParser

import pytest

MAY = "from=2024-05-01&to=2024-05-31"


@pytest.fixture(scope="module", params=["sqlite", "postgresql"])
def backend(request):
    return request.param


def insert(host, rows):
    """Adds events with chosen times straight into the database, as a past month would have."""
    host.sql("INSERT INTO events (time, event, product, uuid, user_agent, client)"
             " VALUES (?, ?, ?, 'u', 'ua', '1.2.3.4')", rows)


def stamp(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + f"{moment.microsecond // 1000:03d}Z"


@pytest.fixture(scope="module")
def may(shared_host):
    rows = []
    rows += [("2024-05-01T00:00:00.000Z", 5, "Tessaryn")] * 4
    rows += [("2024-05-31T23:59:59.999Z", 9, "TESSARYN")] * 3
    rows += [("2024-05-15T12:00:00.000Z", 0, "tessaryn")] * 2
    rows += [("2024-05-15T12:00:00.000Z", 6, "Tessaryn")]
    rows += [("2024-05-20T08:00:00.000Z", 5, "<b>Evil</b>&Co")] * 2
    rows += [("2024-05-20T08:00:00.000Z", 1, "Idle")]
    # Just outside the period on both sides.
    rows += [("2024-04-30T23:59:59.999Z", 5, "Tessaryn"), ("2024-06-01T00:00:00.000Z", 9, "Tessaryn")]
    insert(shared_host, rows)
    return shared_host


def get_json(host, query):
    status, headers, body = host.request("GET", "/funnel.json?" + query)
    assert headers["Content-Type"] == "application/json"
    return status, json.loads(body)


def by_product(report):
    return {p["product"]: p for p in report["products"]}


def test_counts_per_product_over_whole_days(may):
    status, report = get_json(may, MAY)
    assert status == 200
    assert (report["from"], report["to"]) == ("2024-05-01T00:00:00.000Z", "2024-06-01T00:00:00.000Z")
    products = by_product(report)
    assert sorted(products) == ["<b>evil</b>&co", "idle", "tessaryn"]

    tessaryn = products["tessaryn"]
    counts = {e["code"]: e["count"] for e in tessaryn["events"]}
    assert counts == {0: 2, 1: 0, 2: 0, 3: 0, 4: 0, 5: 4, 6: 1, 7: 0, 8: 0, 9: 3, 10: 0}
    assert [e["name"] for e in tessaryn["events"]][5] == "installation started"
    assert (tessaryn["started"], tessaryn["completed"], tessaryn["completion_rate"]) == (4, 3, 0.75)
    assert products["<b>evil</b>&co"]["completion_rate"] == 0
    assert products["idle"]["completion_rate"] is None

    # One day only, and a period with nothing in it.
    _, day = get_json(may, "from=2024-05-15&to=2024-05-15")
    assert {e["code"]: e["count"] for e in by_product(day)["tessaryn"]["events"] if e["count"]} == {0: 2, 6: 1}
    assert get_json(may, "from=2023-01-01&to=2023-01-31")[1]["products"] == []


class PageText(HTMLParser):
    def __init__(self):
        super().__init__()
        self.text, self.tags = [], []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)

    def handle_data(self, data):
        self.text.append(data)


def test_page_shows_the_numbers_a_chart_and_escapes_names(may):
    status, headers, body = may.request("GET", "/funnel?" + MAY + "&x=<script>")
    assert status == 200
    assert headers["Content-Type"].startswith("text/html")
    page = body.decode()
    parser = PageText()
    parser.feed(page)
    text = " ".join(parser.text)
    assert "<svg" in page and "rect" in parser.tags
    assert "script" not in parser.tags and "<b>evil" not in page
    assert "&lt;b&gt;evil&lt;/b&gt;&amp;co" in page
    assert "75.0%" in text
    assert "installation complete" in text
    assert "no installation started" in text  # the product without event 5
    assert 'value="2024-05-01"' in page
    assert "http" not in page.replace("http://www.w3.org/2000/svg", "")  # no external assets


def test_days_counts_back_from_now(shared_host):
    now = datetime.now(timezone.utc)
    insert(shared_host, [
        (stamp(now - timedelta(days=1)), 10, "Recent"),
        (stamp(now - timedelta(days=10)), 10, "Recent"),
        (stamp(now - timedelta(days=40)), 10, "Recent"),
    ])

    def updater_runs(query):
        products = by_product(get_json(shared_host, query)[1])
        return products["recent"]["events"][10]["count"] if "recent" in products else 0

    assert updater_runs("days=7") == 1
    assert updater_runs("days=30") == 2
    assert updater_runs("") == 2
    assert updater_runs("days=60") == 2 + 1


@pytest.mark.parametrize(
    "query",
    ["from=2024-13-01", "to=31.05.2024", "from=2024-05-31&to=2024-05-01", "days=0", "days=-3",
     "days=abc", "days=99999", "days=7&from=2024-05-01", "from=2024-05-01&from=2024-05-02",
     "from=0001-01-01&to=9999-12-31"],
)
def test_bad_periods_are_400(shared_host, query):
    status, answer = get_json(shared_host, query)
    assert status == 400 and answer["error"]
    assert shared_host.request("GET", "/funnel?" + query)[0] == 400
