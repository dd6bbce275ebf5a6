#!/usr/bin/env python3
"""Plain reference of the NIST SP 800-90A DRBGs, used as a test oracle.

Hash_DRBG and HMAC_DRBG use hashlib/hmac; CTR_DRBG takes its block function
(AES or three-key TDES, one block in ECB) from OpenSSL's libcrypto via ctypes.
The TDES key of 168 key bits is cut into 24 groups of 7 bits, each given an
odd-parity low bit.

stdin: a JSON list of cases
  {"mech": "hash"|"hmac"|"ctr", "alg": hash name (hashlib) or
   "aes128"|"aes192"|"aes256"|"tdes", "df": bool (ctr), "entropy", "nonce",
   "perso": hex, "steps": [{"op": "generate", "n": int, "addin": hex} |
                           {"op": "reseed", "entropy": hex, "addin": hex}]}
stdout: the hex output of every generate step, one per line, in order.
"""
import ctypes
import ctypes.util
import hashlib
import hmac
import json
import sys

SEEDLEN = {"sha1": 440, "sha224": 440, "sha256": 440, "sha512_224": 440,
           "sha512_256": 440, "sha3_224": 440, "sha3_256": 440,
           "sha384": 888, "sha512": 888, "sha3_384": 888, "sha3_512": 888}


def add_mod(bits, *values):
    total = sum(int.from_bytes(v, "big") for v in values) % (1 << bits)
    return total.to_bytes(bits // 8, "big")


class HashDrbg:
    def __init__(self, alg, entropy, nonce, perso):
        self.alg, self.seedlen = alg, SEEDLEN[alg]
        self.v = self.df(entropy + nonce + perso)
        self.c = self.df(b"\x00" + self.v)
        self.counter = 1

    def h(self, data):
        return hashlib.new(self.alg, data).digest()

    def df(self, data):
        out, i = b"", 1
        while len(out) * 8 < self.seedlen:
            out += self.h(bytes([i]) + self.seedlen.to_bytes(4, "big") + data)
            i += 1
        return out[: self.seedlen // 8]

    def reseed(self, entropy, addin):
        self.v = self.df(b"\x01" + self.v + entropy + addin)
        self.c = self.df(b"\x00" + self.v)
        self.counter = 1

    def generate(self, n, addin):
        if addin:
            self.v = add_mod(self.seedlen, self.v, self.h(b"\x02" + self.v + addin))
        out, data = b"", self.v
        while len(out) < n:
            out += self.h(data)
            data = add_mod(self.seedlen, data, b"\x01")
        hv = self.h(b"\x03" + self.v)
        self.v = add_mod(self.seedlen, self.v, hv, self.c, self.counter.to_bytes(4, "big"))
        self.counter += 1
        return out[:n]


class HmacDrbg:
    def __init__(self, alg, entropy, nonce, perso):
        self.alg = alg
        size = hashlib.new(alg).digest_size
        self.k, self.v = b"\x00" * size, b"\x01" * size
        self.update(entropy + nonce + perso)

    def mac(self, data):
        return hmac.new(self.k, data, self.alg).digest()

    def update(self, data):
        self.k = self.mac(self.v + b"\x00" + data)
        self.v = self.mac(self.v)
        if data:
            self.k = self.mac(self.v + b"\x01" + data)
            self.v = self.mac(self.v)

    def reseed(self, entropy, addin):
        self.update(entropy + addin)

    def generate(self, n, addin):
        if addin:
            self.update(addin)
        out = b""
        while len(out) < n:
            self.v = self.mac(self.v)
            out += self.v
        self.update(addin)
        return out[:n]


_crypto = ctypes.CDLL(ctypes.util.find_library("crypto"))
for _name in ("EVP_aes_128_ecb", "EVP_aes_192_ecb", "EVP_aes_256_ecb", "EVP_des_ede3_ecb",
              "EVP_CIPHER_CTX_new"):
    getattr(_crypto, _name).restype = ctypes.c_void_p
_crypto.EVP_EncryptInit_ex.argtypes = [ctypes.c_void_p] * 5
_crypto.EVP_CIPHER_CTX_set_padding.argtypes = [ctypes.c_void_p, ctypes.c_int]
_crypto.EVP_EncryptUpdate.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int),
                                      ctypes.c_char_p, ctypes.c_int]
_crypto.EVP_CIPHER_CTX_free.argtypes = [ctypes.c_void_p]

# name: (ECB cipher, key bytes in the seed material, block bytes)
CIPHERS = {"aes128": ("EVP_aes_128_ecb", 16, 16), "aes192": ("EVP_aes_192_ecb", 24, 16),
           "aes256": ("EVP_aes_256_ecb", 32, 16), "tdes": ("EVP_des_ede3_ecb", 21, 8)}


def tdes_key(key168):
    bits = bin(int.from_bytes(key168, "big"))[2:].zfill(168)
    out = bytearray()
    for i in range(24):
        group = bits[7 * i: 7 * i + 7]
        out.append(int(group, 2) << 1 | (group.count("1") % 2 == 0))
    return bytes(out)


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


class CtrDrbg:
    def __init__(self, alg, use_df, entropy, nonce, perso):
        self.evp, self.keylen, self.blk = CIPHERS[alg]
        self.tdes = alg == "tdes"
        self.use_df = use_df
        self.seedlen = self.keylen + self.blk
        self.k, self.v = b"\x00" * self.keylen, b"\x00" * self.blk
        if use_df:
            seed = self.df(entropy + nonce + perso)
        else:
            seed = xor(entropy, perso.ljust(self.seedlen, b"\x00"))
        self.update(seed)

    def enc(self, key, block):
        if self.tdes:
            key = tdes_key(key)
        ctx = _crypto.EVP_CIPHER_CTX_new()
        _crypto.EVP_EncryptInit_ex(ctx, getattr(_crypto, self.evp)(), None, key, None)
        _crypto.EVP_CIPHER_CTX_set_padding(ctx, 0)
        out, n = ctypes.create_string_buffer(len(block) + 16), ctypes.c_int(0)
        _crypto.EVP_EncryptUpdate(ctx, out, ctypes.byref(n), block, len(block))
        _crypto.EVP_CIPHER_CTX_free(ctx)
        assert n.value == len(block)
        return out.raw[: len(block)]

    def next_block(self):
        self.v = add_mod(8 * self.blk, self.v, b"\x01")
        return self.enc(self.k, self.v)

    def update(self, provided):
        temp = b""
        while len(temp) < self.seedlen:
            temp += self.next_block()
        temp = xor(temp[: self.seedlen], provided)
        self.k, self.v = temp[: self.keylen], temp[self.keylen:]

    def bcc(self, key, data):
        chain = b"\x00" * self.blk
        for i in range(0, len(data), self.blk):
            chain = self.enc(key, xor(chain, data[i: i + self.blk]))
        return chain

    def df(self, data):
        s = len(data).to_bytes(4, "big") + self.seedlen.to_bytes(4, "big") + data + b"\x80"
        s += b"\x00" * (-len(s) % self.blk)
        fixed = bytes(range(self.keylen))
        temp, i = b"", 0
        while len(temp) < self.keylen + self.blk:
            temp += self.bcc(fixed, i.to_bytes(4, "big").ljust(self.blk, b"\x00") + s)
            i += 1
        key, x = temp[: self.keylen], temp[self.keylen: self.keylen + self.blk]
        out = b""
        while len(out) < self.seedlen:
            x = self.enc(key, x)
            out += x
        return out[: self.seedlen]

    def reseed(self, entropy, addin):
        if self.use_df:
            self.update(self.df(entropy + addin))
        else:
            self.update(xor(entropy, addin.ljust(self.seedlen, b"\x00")))

    def generate(self, n, addin):
        if addin:
            addin = self.df(addin) if self.use_df else addin.ljust(self.seedlen, b"\x00")
            self.update(addin)
        else:
            addin = b"\x00" * self.seedlen
        out = b""
        while len(out) < n:
            out += self.next_block()
        self.update(addin)
        return out[:n]


def main():
    for case in json.load(sys.stdin):
        args = [bytes.fromhex(case[k]) for k in ("entropy", "nonce", "perso")]
        if case["mech"] == "hash":
            drbg = HashDrbg(case["alg"], *args)
        elif case["mech"] == "hmac":
            drbg = HmacDrbg(case["alg"], *args)
        else:
            drbg = CtrDrbg(case["alg"], case["df"], *args)
        for step in case["steps"]:
            addin = bytes.fromhex(step.get("addin", ""))
            if step["op"] == "reseed":
                drbg.reseed(bytes.fromhex(step["entropy"]), addin)
            else:
                print(drbg.generate(step["n"], addin).hex())


main()
