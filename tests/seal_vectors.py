#!/usr/bin/env python3
"""Computes the known-answer vectors of tests/seal_format_test.cpp from the
primitives' definitions alone (hashlib's BLAKE2b and the SipHash-2-4 below),
without the library: subkeys as libsodium's crypto_kdf_derive_from_key makes
them, tags and locators, MACs and the seal lines."""
import base64
import hashlib
import struct

MASK = (1 << 64) - 1


def rotl(x, b):
    return ((x << b) | (x >> (64 - b))) & MASK


def siphash24(key, message):
    k0, k1 = struct.unpack("<QQ", key)
    v = [k0 ^ 0x736F6D6570736575, k1 ^ 0x646F72616E646F6D, k0 ^ 0x6C7967656E657261, k1 ^ 0x7465646279746573]

    def rounds(n):
        for _ in range(n):
            v[0] = (v[0] + v[1]) & MASK
            v[1] = rotl(v[1], 13) ^ v[0]
            v[0] = rotl(v[0], 32)
            v[2] = (v[2] + v[3]) & MASK
            v[3] = rotl(v[3], 16) ^ v[2]
            v[0] = (v[0] + v[3]) & MASK
            v[3] = rotl(v[3], 21) ^ v[0]
            v[2] = (v[2] + v[1]) & MASK
            v[1] = rotl(v[1], 17) ^ v[2]
            v[2] = rotl(v[2], 32)

    # The message, zero-padded to 7 mod 8 bytes, then its length's low byte.
    blocks = message + bytes(7 - len(message) % 8) + bytes([len(message) & 0xFF])
    for (m,) in struct.iter_unpack("<Q", blocks):
        v[3] ^= m
        rounds(2)
        v[0] ^= m
    v[2] ^= 0xFF
    rounds(4)
    return struct.pack("<Q", v[0] ^ v[1] ^ v[2] ^ v[3])


# libsodium's crypto_kdf_derive_from_key: BLAKE2b keyed with the master key,
# the subkey's number (8 bytes little-endian) as salt and the context as
# personalisation, both zero-padded to 16 bytes (as hashlib pads them).
def subkey(master, number, size):
    return hashlib.blake2b(b"", digest_size=size, key=master, salt=struct.pack("<Q", number), person=b"qvseal-1").digest()


def b64(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def c_bytes(data):
    return "{" + ", ".join("0x%02x" % b for b in data) + "}"


# The reference vector of the SipHash paper (key 00..0f, message 00..0e).
assert siphash24(bytes(range(16)), bytes(range(15))) == bytes.fromhex("e545be4961ca29a1")

first = bytes(range(32))
tag_key, mac_key, next_key = subkey(first, 1, 16), subkey(first, 2, 32), subkey(first, 3, 32)
lines = ["CEF:0|Acme|Bank|1.0|100|Login|4|suser=alice", ' {"Id" : "42"}']
tags = [siphash24(tag_key, l.encode())[:6] for l in lines]
locs = [siphash24(b"quorvel-locator2", l.encode())[:3] for l in lines]
print("tag key", c_bytes(tag_key))
print("mac key", c_bytes(mac_key))
print("next key", c_bytes(next_key))
for l, t, c in zip(lines, tags, locs):
    print(repr(l), "tag", c_bytes(t), "locator", c_bytes(c))

session = b64(bytes(range(0xA0, 0xB0)))


def sealed(text):
    return text + " mac=" + b64(hashlib.blake2b(text.encode(), digest_size=32, key=mac_key).digest())


head = "quorvel-seal v=%d session=" + session + " index=%d time=%d first=%d count=%d"
encrypted = bytes(range(0x40, 0x90))
print(sealed(head % (2, 0, 1700000000000, 0, 0) + " host=" + b64(b"host-a") + " module=" + b64(b"server")
             + " pid=4242 lines=5 millis=1000 idle=60000 key=" + b64(encrypted) + " locs= tags="))
print(sealed(head % (2, 1, 1700000001000, 7, 2) + " end=1 locs=" + b64(b"".join(locs)) + " tags=" + b64(b"".join(tags))))
version1 = sealed(head % (1, 1, 1700000001000, 7, 2) + " end=1 tags=" + b64(b"".join(tags)))
print(version1)
print("its mac", c_bytes(base64.urlsafe_b64decode(version1.split(" mac=")[1] + "=")))
