#!/usr/bin/env python3
"""An independent AES-GCM peer: reads a JSON list of operations on stdin and
writes a JSON list of results on stdout. Texts are uppercase hex of
[salt 16] IV 16, ciphertext, tag cut to 12 bytes."""
import hashlib
import json
import os
import sys

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def aes_key(key_text):
    return key_text.encode("utf-8")[: utf16_length(key_text) // 2]


def password_key_text(password, salt):
    prefix = password.encode("utf-8")[: utf16_length(password)]
    return hashlib.sha512(prefix + salt).digest()[:32].hex().upper()


def encrypt(key_text, data):
    iv = os.urandom(16)
    sealed = AESGCM(aes_key(key_text)).encrypt(iv, data, None)
    return (iv + sealed[:-16] + sealed[-16:-4]).hex().upper()


def decrypt(key_text, text, salted):
    start = 32 if salted else 0
    iv = bytes.fromhex(text[start : start + 32])
    body = bytes.fromhex(text[start + 32 :])
    decryptor = Cipher(algorithms.AES(aes_key(key_text)), modes.GCM(iv, body[-12:], min_tag_length=12)).decryptor()
    return decryptor.update(body[:-12]) + decryptor.finalize()


def run(op):
    kind = op["op"]
    if kind == "encrypt_key":
        return {"text": encrypt(op["key"], bytes.fromhex(op["data"]))}
    if kind == "encrypt_password":
        salt = os.urandom(16)
        return {"text": salt.hex().upper() + encrypt(password_key_text(op["password"], salt), bytes.fromhex(op["data"]))}
    if kind == "decrypt_key":
        return {"data": decrypt(op["key"], op["text"], op.get("salted", False)).hex()}
    if kind == "decrypt_password":
        salt = bytes.fromhex(op["text"][:32])
        return {"data": decrypt(password_key_text(op["password"], salt), op["text"], True).hex()}
    raise ValueError("unknown operation " + kind)


def main():
    results = []
    for op in json.load(sys.stdin):
        try:
            results.append(run(op))
        except Exception as e:  # reported per operation, so one failure doesn't hide the rest
            results.append({"error": "%s: %s" % (type(e).__name__, e)})
    json.dump(results, sys.stdout)


if __name__ == "__main__":
    main()
