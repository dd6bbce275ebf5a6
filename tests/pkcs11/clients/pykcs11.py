#!/usr/bin/python3
"""PyKCS11 against the module: a client written in Python, with threads."""
import os
import sys
import threading

try:
    import PyKCS11
    from PyKCS11 import LowLevel
except ImportError:
    sys.exit(77)

PIN = os.environ["ZEB_USER_PIN"]
lib = PyKCS11.PyKCS11Lib()
lib.load(os.environ["ZEBP11_MODULE"])

info = lib.getInfo()
assert info.manufacturerID.strip() == "Valdoren Technologies", info
assert info.cryptokiVersion == (3, 1), info.cryptokiVersion

slots = lib.getSlotList(tokenPresent=True)
assert slots == [0], slots
token = lib.getTokenInfo(0)
assert token.label.strip() == "ZEB-Default-Token-Label", token.label
assert token.serialNumber.strip() == os.environ["ZEB_HSM_SN"], token.serialNumber
assert token.flags & PyKCS11.CKF_RNG
assert token.ulMaxPinLen == 32 and token.ulMinPinLen == 8

# Login states per session.
rw = lib.openSession(0, PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
ro = lib.openSession(0)
rw.login(PIN)
assert rw.getSessionInfo().state == PyKCS11.CKS_RW_USER_FUNCTIONS, rw.getSessionInfo().state
assert ro.getSessionInfo().state == PyKCS11.CKS_RO_PUBLIC_SESSION, ro.getSessionInfo().state
try:
    rw.login(PIN)
    raise AssertionError("second login accepted")
except PyKCS11.PyKCS11Error as e:
    assert e.value == PyKCS11.CKR_USER_ALREADY_LOGGED_IN, e
try:
    ro.login("short")
    raise AssertionError("short PIN accepted")
except PyKCS11.PyKCS11Error as e:
    assert e.value == PyKCS11.CKR_PIN_LEN_RANGE, e

data = rw.generateRandom(48)
assert len(data) == 48 and any(data), data
rw.logout()
assert rw.getSessionInfo().state == PyKCS11.CKS_RW_PUBLIC_SESSION
rw.closeSession()
ro.closeSession()


# Several threads, each with its own session.
errors = []


def worker():
    try:
        for _ in range(10):
            s = lib.openSession(0)
            s.login(PIN)
            assert len(s.generateRandom(32)) == 32
            s.logout()
            s.closeSession()
    except Exception as e:  # reported below
        errors.append(e)


threads = [threading.Thread(target=worker) for _ in range(4)]
for t in threads:
    t.start()
for t in threads:
    t.join()
assert not errors, errors
assert lib.getTokenInfo(0).ulSessionCount == 0
print("PyKCS11: all passed")
