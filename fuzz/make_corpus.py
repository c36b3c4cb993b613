#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/. The seeds are committed; rerun
this only to change them."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import app_reply, crc16  # noqa: E402  (the tests' frame contents for the seeds)

START, END, ESC = 0xFE, 0xFF, 0xFD


assert crc16(b"123456789") == 0xD64E


def stuff(content):
    out = bytearray([START])
    for b in content:
        out += bytes([ESC, b - ESC]) if b >= ESC else bytes([b])
    out.append(END)
    return bytes(out)


def loader(command, body=b""):
    length = len(body) + 1
    return bytes([length >> 8, length & 0xFF, command]) + bytes(body)


MODE_QUERY = stuff(app_reply(1, [0x2D, 0x03, 0x4E, 0x53, 0x02]))
assert MODE_QUERY == bytes.fromhex("FE000001052D034E5302D3FD00FF")
VERSION_QUERY = stuff(app_reply(0, [0x2D, 0x03, 0x4E, 0x53, 0x09]))
ACK = stuff(app_reply(1, [0x18, 0x00]))
NAK = stuff(app_reply(2, [0x18, 0x01]))
STATUS_APP = stuff(app_reply(1, [0x2D, 0x04, 0x4E, 0x53, 0x02, 0x01]))
STATUS_LOADER = stuff(app_reply(2, [0x2D, 0x04, 0x4E, 0x53, 0x02, 0x02]))
STATUS_FF = stuff(app_reply(0xFE, [0x2D, 0x04, 0x4E, 0x53, 0x02, 0xFF]))
STATE_READY = stuff(loader(0x06, [0x00]))
STATE_BUSY = stuff(loader(0x06, [0x01]))
LOADER_VERSION = stuff(loader(0x09, b"Loader V1.07"))
RESET_REPLY = stuff(bytes([0, 0, 0, 0, 0x18, 0x00]))
LOADER_CLOSE = stuff(loader(0x01))
STUFFED = bytes.fromhex("FEFD00FD01FD02FF")
BAD_ESCAPE = bytes.fromhex("FE41FD03FF")
ESCAPE_AT_END = bytes.fromhex("FE41FDFF")
EMPTY = bytes.fromhex("FEFF")
FULL_50 = stuff(bytes(range(0xCE, 0xCE + 50)))
OVER_LONG = stuff(bytes(range(0xCD, 0xCD + 51)))


def data_frame(block):
    return stuff(loader(0x03, block))


DATA_FULL_FF = data_frame(bytes([0xFF] * 750))
assert len(DATA_FULL_FF) == 1505
DATA_MIXED = data_frame(bytes((i * 37) & 0xFF for i in range(750)))
DATA_SMALL = data_frame(bytes([0x10, 0xFD, 0x20, 0xFE, 0x30, 0xFF]))
DATA_TOO_LONG = stuff(loader(0x03, bytes([0x41] * 760)))


def write(harness, name, data):
    folder = os.path.join(HERE, "corpus", harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# unescape_frame_fuzz: one raw frame per input.
for name, frame in [
    ("mode_query", MODE_QUERY), ("ack", ACK), ("status_app", STATUS_APP),
    ("status_ff", STATUS_FF), ("stuffed", STUFFED), ("bad_escape", BAD_ESCAPE),
    ("escape_at_end", ESCAPE_AT_END), ("empty", EMPTY), ("full_50", FULL_50),
    ("over_long", OVER_LONG), ("no_markers", bytes.fromhex("00414200")),
    ("unstuffed_marker", bytes.fromhex("FE41FE42FF")),
]:
    write("unescape_frame_fuzz", name, frame)


# receive_frame_fuzz: maxLen-2, flags (bit 0 small reads, bits 1-2 idle
# limit), count of read sizes, the sizes, then the stream.
def rx(max_len, small, idle, sizes, stream):
    return bytes([max_len - 2, (1 if small else 0) | (idle << 1), len(sizes)] + sizes) + stream


for name, seed in [
    ("carry_over", rx(256, True, 2, [4], bytes.fromhex("41FE0001") + bytes.fromhex("09FFFE00") + MODE_QUERY)),
    ("replies", rx(256, True, 2, [1, 3, 0, 4, 2], ACK + STATUS_APP + STATE_READY + NAK)),
    ("restart", rx(256, True, 0, [], bytes.fromhex("FE01FE02FF") + EMPTY)),
    ("too_long", rx(10, True, 1, [3, 4], bytes([START] + [0x41] * 20 + [END]) + bytes.fromhex("FE01FF"))),
    ("big_reads", rx(256, False, 1, [0, 200, 17], ACK + DATA_SMALL + STATUS_LOADER + LOADER_VERSION)),
    ("exact_256", rx(256, False, 3, [], bytes([START] + [0x42] * 254 + [END]) + EMPTY)),
    ("idle_gap", rx(64, True, 3, [2, 0, 0, 0, 4, 1], bytes.fromhex("00FF") + STATUS_FF + BAD_ESCAPE)),
]:
    write("receive_frame_fuzz", name, seed)


# reply_checks_fuzz: count of read sizes, the sizes, then the device stream.
def rc(sizes, stream):
    return bytes([len(sizes)] + sizes) + stream


for name, seed in [
    ("mode_replies", rc([], ACK + STATUS_APP)),
    ("loader_mode", rc([3, 1, 4], ACK + STATUS_LOADER + STATUS_FF)),
    ("state", rc([2], STATE_BUSY + STATE_READY)),
    ("loader_version", rc([4], LOADER_VERSION + RESET_REPLY)),
    ("tool_frames", rc([], MODE_QUERY + VERSION_QUERY + LOADER_CLOSE + DATA_SMALL)),
    ("hostile", rc([1], NAK + BAD_ESCAPE + OVER_LONG + EMPTY + bytes.fromhex("FE0000FF"))),
]:
    write("reply_checks_fuzz", name, seed)


# stream_decoder_fuzz: count of block sizes, the sizes (bit 7: times 16),
# then the stream.
for name, seed in [
    ("data_frame_full", rc([], DATA_FULL_FF)),
    ("data_frames_cut", rc([0x80 | 47, 3, 200, 0], DATA_MIXED + DATA_SMALL + data_frame(b""))),
    ("commands", rc([5, 1], LOADER_CLOSE + MODE_QUERY + STATE_READY)),
    ("rejects", rc([2], BAD_ESCAPE + bytes.fromhex("FE41FE42FF") + bytes.fromhex("FE41FDFE42FF"))),
    ("too_long", rc([0x80 | 63], DATA_TOO_LONG + DATA_SMALL)),
]:
    write("stream_decoder_fuzz", name, seed)
