#!/usr/bin/env python3
"""Writes the seed replies of the fuzz corpus into the directory given (default: corpus/)."""
import os
import sys

SIG = b"XXXCID"


def search_reply(length, identity=b"H10830000111", ip=(10, 83, 0, 11), stage=2):
    block = identity + bytes(8) + bytes([0x00, 0x50, 0x2A, 0x00, 0x00, 0x0B])
    block += bytes(ip) + bytes([255, 255, 0, 0]) + bytes([10, 83, 0, 1]) + bytes([10, 83, 0, 254])
    body = SIG + bytes([0xFC, stage, 0, 0]) + block + b"V1.0 stand-in".ljust(16, b"\0")
    body += bytes([0, 5])
    return body.ljust(length, b"\0")


SEEDS = {
    "search-reply-70": search_reply(70),
    "search-reply-512": search_reply(512, b"P12340000001", (192, 168, 1, 20)),
    "search-reply-short-40": search_reply(40)[:40],
    "search-reply-stage0-70": search_reply(70, stage=0),
    "write-reply-8": SIG + bytes([0xFE, 2]),
    "delete-reply-512": (SIG + bytes([0x36, 2])).ljust(512, b"\0"),
    "own-search-request-512": (SIG + bytes([0xFC, 1])).ljust(512, b"\0"),
    "wrong-signature-70": b"XXXCId" + search_reply(70)[6:],
    "unknown-command-8": SIG + bytes([0x37, 2]),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
