"""Load for the web host: clients posting events over kept-alive connections while other
connections sit idle or half-sent. Loopback only, bounded in count and time."""

import asyncio
import json
import time

REQUEST_HEAD = ("POST /installers/metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Setup/1.1 (load)\r\n"
                "Content-Type: application/json\r\nContent-Length: {length}\r\n\r\n")
ANSWER_WAIT = 60


class Result:
    def __init__(self):
        self.latencies = []
        self.failures = []
        self.sent = []
        self.idle_opened = 0
        self.idle_closed_by_host = 0
        self.seconds = 0.0

    def percentile(self, share):
        ordered = sorted(self.latencies)
        return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else 0.0


async def _answer(reader):
    head = await reader.readuntil(b"\r\n\r\n")
    status = int(head.split(b" ", 2)[1])
    length = 0
    close = False
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        name = name.strip().lower()
        if name == b"content-length":
            length = int(value)
        elif name == b"connection" and value.strip().lower() == b"close":
            close = True
    await reader.readexactly(length)
    return status, close


async def _client(port, worker, count, result):
    connection = None
    for n in range(count):
        uuid = f"load-{worker}-{n}"
        body = json.dumps({"event": n % 11, "prod": "Tessaryn", "uuid": uuid}).encode()
        started = time.perf_counter()
        try:
            if connection is None:
                connection = await asyncio.open_connection("127.0.0.1", port)
            reader, writer = connection
            writer.write(REQUEST_HEAD.format(length=len(body)).encode() + body)
            await writer.drain()
            status, close = await asyncio.wait_for(_answer(reader), ANSWER_WAIT)
            if status == 200:
                result.sent.append(uuid)
            else:
                result.failures.append((uuid, status))
            if close:
                writer.close()
                connection = None
        except (OSError, asyncio.IncompleteReadError, asyncio.TimeoutError, ValueError) as e:
            # Not retried: a retry could store the event twice, which is what is being checked.
            result.failures.append((uuid, repr(e)))
            if connection is not None:
                connection[1].close()
            connection = None
        result.latencies.append(time.perf_counter() - started)
    if connection is not None:
        connection[1].close()


async def _hold(port, index, result, held):
    """One idle connection (every other one with half a request sent), opened again when the host drops it."""
    while True:
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", port)
        except OSError:
            await asyncio.sleep(0.2)
            continue
        try:
            if index % 2:
                writer.write(b"POST /installers/metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-")
            result.idle_opened += 1
            if result.idle_opened == held[0]:
                held[1].set()
            while await reader.read(4096):
                pass
            result.idle_closed_by_host += 1
        except OSError:
            result.idle_closed_by_host += 1
        finally:
            writer.close()


async def _run(port, clients, events, idle, when_held):
    result = Result()
    held = (idle, asyncio.Event())
    holders = [asyncio.create_task(_hold(port, i, result, held)) for i in range(idle)]
    try:
        if idle:
            await asyncio.wait_for(held[1].wait(), 60)
        if when_held:
            when_held()
        started = time.perf_counter()
        shares = [events // clients + (1 if w < events % clients else 0) for w in range(clients)]
        await asyncio.wait_for(
            asyncio.gather(*(_client(port, w, share, result) for w, share in enumerate(shares))),
            timeout=max(120, events / 50))
        result.seconds = time.perf_counter() - started
    finally:
        for task in holders:
            task.cancel()
        await asyncio.gather(*holders, return_exceptions=True)
    return result


def run_load(port, clients, events, idle, when_held=None):
    """Posts `events` events from `clients` connections while `idle` connections are held;
    when_held() is called once they all are open, before the clients start."""
    return asyncio.run(_run(port, clients, events, idle, when_held))
