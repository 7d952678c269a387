#!/usr/bin/env python3
# An independent AES-GCM peer: reads a JSON list of operations on stdin and writes a JSON
# list of results on stdout. Texts are uppercase hex of [salt 16] IV 16, ciphertext, tag
# cut to 12 bytes.
import hashlib
import json
import os
import sys

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM


def prefix(text, divisor):  # the first UTF-8 bytes: the UTF-16 byte count over divisor
    return text.encode("utf-8")[: len(text.encode("utf-16-le")) // divisor]


def key_of(op, salt):
    if "key" in op:
        return prefix(op["key"], 4)
    return prefix(hashlib.sha512(prefix(op["password"], 2) + salt).digest()[:32].hex().upper(), 4)


def run(op):
    salted = "password" in op
    if op["op"].startswith("encrypt"):
        salt, iv = os.urandom(16) if salted else b"", os.urandom(16)
        sealed = AESGCM(key_of(op, salt)).encrypt(iv, bytes.fromhex(op["data"]), None)
        return {"text": (salt + iv + sealed[:-4]).hex().upper()}
    data, n = bytes.fromhex(op["text"]), 16 if salted else 0
    salt, iv, body = data[:n], data[n : n + 16], data[n + 16 :]
    decryptor = Cipher(algorithms.AES(key_of(op, salt)), modes.GCM(iv, body[-12:], min_tag_length=12)).decryptor()
    return {"data": (decryptor.update(body[:-12]) + decryptor.finalize()).hex()}


results = []
for op in json.load(sys.stdin):
    try:
        results.append(run(op))
    except Exception as e:  # reported per operation, so one failure doesn't hide the rest
        results.append({"error": "%s: %s" % (type(e).__name__, e)})
json.dump(results, sys.stdout)
