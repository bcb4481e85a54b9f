"""CBOR written by hand (definite lengths, shortest heads), for documents the packer would never
write: keys twice, types it ignores, nesting it refuses."""


def cbor_head(major: int, value: int) -> bytes:
    if value < 24:
        return bytes([major << 5 | value])
    width = next(w for w in (1, 2, 4, 8) if value < 1 << (8 * w))
    return bytes([major << 5 | {1: 24, 2: 25, 4: 26, 8: 27}[width]]) + value.to_bytes(width, "big")


def cbor(value) -> bytes:
    if isinstance(value, bytes):
        return cbor_head(2, len(value)) + value
    if isinstance(value, str):
        raw = value.encode()
        return cbor_head(3, len(raw)) + raw
    if isinstance(value, list):
        return cbor_head(4, len(value)) + b"".join(cbor(v) for v in value)
    if isinstance(value, dict):
        return cbor_head(5, len(value)) + b"".join(cbor(k) + cbor(v) for k, v in value.items())
    raise TypeError(value)
