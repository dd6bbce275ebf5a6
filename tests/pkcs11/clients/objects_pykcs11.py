#!/usr/bin/python3
"""PyKCS11 and the module's objects: create, find and read."""
import os
import subprocess
import sys

try:
    import PyKCS11
except ImportError:
    sys.exit(77)

lib = PyKCS11.PyKCS11Lib()
lib.load(os.environ["ZEBP11_MODULE"])
s = lib.openSession(0, PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
s.login(os.environ["ZEB_USER_PIN"])

# A data object, a token AES key and a session generic secret.
data = s.createObject([
    (PyKCS11.CKA_CLASS, PyKCS11.CKO_DATA), (PyKCS11.CKA_TOKEN, True),
    (PyKCS11.CKA_LABEL, "py-data"), (PyKCS11.CKA_VALUE, b"\x00\x01 python bytes"),
])
aes = s.createObject([
    (PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY), (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_AES),
    (PyKCS11.CKA_TOKEN, True), (PyKCS11.CKA_ID, (7, 7)), (PyKCS11.CKA_LABEL, "py-aes"),
    (PyKCS11.CKA_VALUE, bytes(range(24))), (PyKCS11.CKA_ENCRYPT, True), (PyKCS11.CKA_SIGN, False),
    (PyKCS11.CKA_SENSITIVE, False),
])
secret = s.createObject([
    (PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY), (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_GENERIC_SECRET),
    (PyKCS11.CKA_LABEL, "py-secret"), (PyKCS11.CKA_VALUE, b"s" * 40), (PyKCS11.CKA_SENSITIVE, True),
])

found = s.findObjects([(PyKCS11.CKA_LABEL, "py-data")])
assert [o.value() for o in found] == [data.value()], found
# The generic secret names no usage: it has its class's (encrypt among them).
found = s.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY), (PyKCS11.CKA_ENCRYPT, True)])
assert sorted(o.value() for o in found) == sorted([aes.value(), secret.value()]), found
found = s.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY), (PyKCS11.CKA_SIGN, False)])
assert sorted(o.value() for o in found) == sorted([aes.value(), secret.value()]), found
assert len(s.findObjects()) == 3

value, = s.getAttributeValue(data, [PyKCS11.CKA_VALUE])
assert bytes(value) == b"\x00\x01 python bytes", value
key_type, length, sign, ident = s.getAttributeValue(
    aes, [PyKCS11.CKA_KEY_TYPE, PyKCS11.CKA_VALUE_LEN, PyKCS11.CKA_SIGN, PyKCS11.CKA_ID])
assert key_type == PyKCS11.CKK_AES and length == 24 and sign is False and bytes(ident) == b"\x07\x07"
assert bytes(s.getAttributeValue(aes, [PyKCS11.CKA_VALUE])[0]) == bytes(range(24))
# PyKCS11 answers an attribute the module refuses as sensitive with None.
assert s.getAttributeValue(secret, [PyKCS11.CKA_VALUE], allAsBinary=True) == [None]
# No object is seen without the user's login: each reads as private, the
# token objects (which keep no flag of their own) too.
for o in (data, aes, secret):
    assert s.getAttributeValue(o, [PyKCS11.CKA_PRIVATE]) == [True], o

# A second process sees the token objects, not this session's object.
probe = """
import os, PyKCS11
lib = PyKCS11.PyKCS11Lib()
lib.load(os.environ["ZEBP11_MODULE"])
s = lib.openSession(0)
s.login(os.environ["ZEB_USER_PIN"])
labels = sorted(s.getAttributeValue(o, [PyKCS11.CKA_LABEL])[0] for o in s.findObjects())
print(",".join(labels))
"""
seen = subprocess.run([sys.executable, "-c", probe], check=True, capture_output=True, text=True).stdout.strip()
assert seen == "py-aes,py-data", seen

s.destroyObject(data)
s.destroyObject(aes)
assert [o.value() for o in s.findObjects()] == [secret.value()]
s.logout()
s.closeSession()
print("PyKCS11 objects: all passed")
