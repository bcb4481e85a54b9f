"""Counters of requests per key (a client's address, a machine identifier) in fixed time windows.

Each counter keeps at most `capacity` keys, so that a client with many addresses or many
invented identifiers cannot grow the host's memory: when it is full, the key least recently
seen is forgotten (that key starts afresh, which costs an attacker as many addresses as it
forgets).
"""

import math
import threading
import time
from collections import OrderedDict


class WindowCounter:
    """At most `limit` takes per key in each `window_s` seconds, counted from the key's first take."""

    def __init__(self, limit, window_s, capacity, clock=time.monotonic):
        self.limit = limit
        self.window_s = window_s
        self.capacity = capacity
        self._clock = clock
        self._lock = threading.Lock()
        # key -> [start of its window, takes in it]; least recently seen first.
        self._keys = OrderedDict()

    def __len__(self):
        return len(self._keys)

    def _entry(self, key, now):
        entry = self._keys.get(key)
        if entry is None or now - entry[0] >= self.window_s:
            entry = [now, 0]
            self._keys[key] = entry
            while len(self._keys) > self.capacity:
                self._keys.popitem(last=False)
        self._keys.move_to_end(key)
        return entry

    def take(self, key):
        """None when the key may go on (and it is counted), else the seconds until its window ends."""
        if self.limit <= 0:
            return None
        with self._lock:
            now = self._clock()
            entry = self._entry(key, now)
            if entry[1] >= self.limit:
                return max(1, math.ceil(entry[0] + self.window_s - now))
            entry[1] += 1
            return None

    def blocked(self, key):
        """Like take, but counts nothing: the seconds until the key may go on, or None."""
        if self.limit <= 0:
            return None
        with self._lock:
            now = self._clock()
            entry = self._keys.get(key)
            if entry is None or now - entry[0] >= self.window_s or entry[1] < self.limit:
                return None
            return max(1, math.ceil(entry[0] + self.window_s - now))

    def count(self, key):
        """Counts one take even over the limit (a failure that already happened)."""
        if self.limit <= 0:
            return
        with self._lock:
            self._entry(key, self._clock())[1] += 1


class EventLimits:
    """What a host stores: events per client and per machine identifier in their windows, and only
    of the products it serves (a container of names; None admits every product)."""

    def __init__(self, per_client=None, per_machine=None, products=None):
        # Compared with None: an empty counter has length 0 and would read as false.
        self.per_client = WindowCounter(0, 1, 1) if per_client is None else per_client
        self.per_machine = WindowCounter(0, 1, 1) if per_machine is None else per_machine
        self.products = products

    def serves(self, product):
        return self.products is None or product in self.products
