"""A host in Python: encodes a record set through libpel_arm64, opens every
sealed "meta" independently (openssl enc and zlib), then decodes and checks the
ranking. Usage: host_test.py <path to libpel_arm64>."""

import base64
import ctypes
import json
import math
import subprocess
import sys
import zlib

KEY = "7e41c09b2d5fa38816cb0e4f9a27d563"  # 32 digits: AES-128
DIM = 4
TOLERANCE = 1e-10

RECORDS = [
    {"id": "near", "filter": {"kind": "a"}, "meta": {"title": "Grüße", "n": [1, 2.5]}, "vector": [1.0, 2.0, 3.0, 4.0]},
    {"id": "mid", "filter": None, "meta": None, "vector": [2, 2, 2, 2]},
    {"id": "far", "filter": ["x"], "meta": "plain", "vector": [-5.0, 7.0, -1.0, 0.5]},
]


def load(path):
    lib = ctypes.CDLL(path)
    out = ctypes.POINTER(ctypes.POINTER(ctypes.c_char))
    lib.encode.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_char_p, out]
    lib.decode.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_int,
                           ctypes.POINTER(ctypes.c_double), ctypes.c_char_p, out]
    lib.free_output_buffer.argtypes = [ctypes.POINTER(ctypes.c_char)]
    for name in ("encode", "decode", "free_output_buffer"):
        getattr(lib, name).restype = None
    lib.last_error_message.restype = ctypes.c_char_p
    return lib


def take_text(lib, buffer):
    """Copies the library's text and hands the buffer back to it."""
    error = lib.last_error_message()
    if error is not None:
        raise AssertionError("call failed: " + error.decode())
    text = ctypes.string_at(buffer).decode("utf-8")
    lib.free_output_buffer(buffer)
    return text


def open_sealed(sealed):
    iv_part, cipher_part = sealed.split(":", 1)
    iv = base64.b64decode(iv_part)
    assert len(iv_part) == 24 and len(iv) == 16, sealed
    result = subprocess.run(
        ["openssl", "enc", "-d", "-aes-128-cbc", "-K", KEY, "-iv", iv.hex()],
        input=base64.b64decode(cipher_part), capture_output=True, check=True)
    return json.loads(zlib.decompress(result.stdout).decode("utf-8"))


def main():
    lib = load(sys.argv[1])
    space = b"L2"

    buffer = ctypes.POINTER(ctypes.c_char)()
    lib.encode(KEY.encode(), space, 2, DIM, json.dumps(RECORDS).encode("utf-8"), ctypes.byref(buffer))
    encoded_text = take_text(lib, buffer)
    encoded = json.loads(encoded_text)
    assert [r["id"] for r in encoded] == [r["id"] for r in RECORDS], encoded_text
    for record, original in zip(encoded, RECORDS):
        assert list(record) == ["filter", "id", "meta", "vector"], record
        assert record["filter"] == original["filter"]
        assert open_sealed(record["meta"]) == original["meta"], record["meta"]

    query = RECORDS[0]["vector"]
    query_array = (ctypes.c_double * DIM)(*query)
    buffer = ctypes.POINTER(ctypes.c_char)()
    lib.decode(KEY.encode(), space, 2, DIM, query_array, encoded_text.encode("utf-8"), ctypes.byref(buffer))
    opened = json.loads(take_text(lib, buffer))

    assert [r["id"] for r in opened] == ["near", "mid", "far"], [r["id"] for r in opened]
    by_id = {r["id"]: r for r in RECORDS}
    for record in opened:
        original = by_id[record["id"]]
        assert list(record) == ["filter", "id", "meta", "similarity", "vector"], record
        assert record["meta"] == original["meta"]
        assert all(abs(a - b) < TOLERANCE for a, b in zip(record["vector"], original["vector"])), record
        distance = math.dist(query, original["vector"])
        assert abs(record["similarity"] - distance) < 1e-9, (record["similarity"], distance)

    # A failure stores nothing and is reported.
    sentinel = ctypes.create_string_buffer(1)
    untouched = ctypes.cast(sentinel, ctypes.POINTER(ctypes.c_char))
    lib.encode(KEY[:20].encode(), space, 2, DIM, b"[]", ctypes.byref(untouched))
    assert ctypes.addressof(untouched.contents) == ctypes.addressof(sentinel)
    assert lib.last_error_message() == (
        b"Invalid key size. Must be 16, 24, or 32 bytes."
        b" The key has 20 characters (10 bytes); use 32, 48 or 64 hexadecimal digits."
    )
    print("host_test: all checks passed")


if __name__ == "__main__":
    main()
