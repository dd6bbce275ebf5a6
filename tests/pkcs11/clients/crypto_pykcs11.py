#!/usr/bin/python3
"""PyKCS11 and the module's crypto: multi-part digests, signatures and AES
through the low-level calls, each checked against hashlib and
cryptography."""
import hashlib
import os
import sys

try:
    import PyKCS11
    from PyKCS11 import LowLevel
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric import ec, utils
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
    from cryptography.hazmat.primitives import padding
except ImportError:
    sys.exit(77)

lib = PyKCS11.PyKCS11Lib()
lib.load(os.environ["ZEBP11_MODULE"])
s = lib.openSession(0, PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
s.login(os.environ["ZEB_USER_PIN"])
ll = s.lib
data = os.urandom(5000)
parts = [data[:1], data[1:700], data[700:701], data[701:]]


def ok(rv):
    if rv != PyKCS11.CKR_OK:
        raise PyKCS11.PyKCS11Error(rv)


# Digests in parts equal hashlib's.
for mech, name in [(PyKCS11.CKM_SHA256, "sha256"), (PyKCS11.CKM_SHA384, "sha384"),
                   (PyKCS11.CKM_SHA3_256, "sha3_256"), (PyKCS11.CKM_SHA_1, "sha1")]:
    d = s.digestSession(PyKCS11.Mechanism(mech))
    for p in parts:
        d.update(p)
    assert bytes(d.final()) == hashlib.new(name, data).digest(), name
    assert bytes(s.digest(data, PyKCS11.Mechanism(mech))) == hashlib.new(name, data).digest(), name

# ECDSA-SHA256 in parts on a generated P-256 pair; the signature verifies in
# cryptography, and the module verifies it in parts too.
p256 = bytes.fromhex("06082a8648ce3d030107")
pub, priv = s.generateKeyPair(
    [(PyKCS11.CKA_EC_PARAMS, p256), (PyKCS11.CKA_VERIFY, True)],
    [(PyKCS11.CKA_SIGN, True), (PyKCS11.CKA_PRIVATE, True)],
    mecha=PyKCS11.Mechanism(PyKCS11.CKM_EC_KEY_PAIR_GEN))
point = bytes(s.getAttributeValue(pub, [PyKCS11.CKA_EC_POINT])[0])[2:]
their_pub = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), point)
mech = PyKCS11.Mechanism(PyKCS11.CKM_ECDSA_SHA256).to_native()
ok(ll.C_SignInit(s.session, mech, priv))
for p in parts:
    ok(ll.C_SignUpdate(s.session, PyKCS11.ckbytelist(p)))
sig = PyKCS11.ckbytelist()
ok(ll.C_SignFinal(s.session, sig))  # the length
assert len(sig) == 64, len(sig)
ok(ll.C_SignFinal(s.session, sig))
sig = bytes(sig)
der = utils.encode_dss_signature(int.from_bytes(sig[:32], "big"), int.from_bytes(sig[32:], "big"))
their_pub.verify(der, data, ec.ECDSA(hashes.SHA256()))
ok(ll.C_VerifyInit(s.session, mech, pub))
for p in parts:
    ok(ll.C_VerifyUpdate(s.session, PyKCS11.ckbytelist(p)))
ok(ll.C_VerifyFinal(s.session, PyKCS11.ckbytelist(sig)))
assert s.verify(pub, data, sig, PyKCS11.Mechanism(PyKCS11.CKM_ECDSA_SHA256))

# AES-256-CBC-PAD in parts with a known key equals cryptography's.
key, iv = os.urandom(32), os.urandom(16)
aes = s.createObject([(PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY), (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_AES),
                      (PyKCS11.CKA_VALUE, key), (PyKCS11.CKA_ENCRYPT, True), (PyKCS11.CKA_DECRYPT, True)])
padder = padding.PKCS7(128).padder()
enc = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
want = enc.update(padder.update(data) + padder.finalize()) + enc.finalize()
cbc_mech = PyKCS11.Mechanism(PyKCS11.CKM_AES_CBC_PAD, iv)  # keeps the IV alive
cbc = cbc_mech.to_native()
ok(ll.C_EncryptInit(s.session, cbc, aes))
got = b""
# PyKCS11 asks each update for its length first and passes no buffer when
# that is 0 (a length query again): parts of 32 bytes or more always
# release output.
for p in [data[:100], data[100:700], data[700:733], data[733:]]:
    out = PyKCS11.ckbytelist()
    ok(ll.C_EncryptUpdate(s.session, PyKCS11.ckbytelist(p), out))  # the length
    ok(ll.C_EncryptUpdate(s.session, PyKCS11.ckbytelist(p), out))
    got += bytes(out)
out = PyKCS11.ckbytelist()
ok(ll.C_EncryptFinal(s.session, out))  # the length
ok(ll.C_EncryptFinal(s.session, out))
got += bytes(out)
assert got == want, (len(got), len(want), got[:32].hex(), want[:32].hex())
assert bytes(s.encrypt(aes, data, PyKCS11.Mechanism(PyKCS11.CKM_AES_CBC_PAD, iv))) == want
assert bytes(s.decrypt(aes, want, PyKCS11.Mechanism(PyKCS11.CKM_AES_CBC_PAD, iv))) == data

# A decryption step after an encryption's Init is refused; the encryption
# goes on.
ok(ll.C_EncryptInit(s.session, cbc, aes))
rv = ll.C_DecryptUpdate(s.session, PyKCS11.ckbytelist(data[:32]), PyKCS11.ckbytelist())
assert rv == PyKCS11.CKR_OPERATION_NOT_INITIALIZED, hex(rv)
out = PyKCS11.ckbytelist()
ok(ll.C_Encrypt(s.session, PyKCS11.ckbytelist(data), out))
ok(ll.C_Encrypt(s.session, PyKCS11.ckbytelist(data), out))
assert bytes(out) == want

s.logout()
s.closeSession()
print("PyKCS11 crypto: all passed")
