#!/usr/bin/python3
"""The module leaves its host's standard output alone: a PyKCS11 client that
writes its data to standard output gets only its own bytes there, with the
module's log at its most talkative, failing calls and an entry point that
answers without work; the module's lines go to standard error."""
import ctypes
import os
import re
import subprocess
import sys

try:
    import PyKCS11
except ImportError:
    sys.exit(77)

MODULE = os.environ["ZEBP11_MODULE"]

if sys.argv[1:] == ["client"]:
    lib = PyKCS11.PyKCS11Lib()
    lib.load(MODULE)
    ctypes.CDLL(MODULE).ZEBP11_set_log_level(0)  # the module PyKCS11 loaded
    session = lib.openSession(0, PyKCS11.CKF_SERIAL_SESSION)
    session.login(os.environ["ZEB_USER_PIN"])
    try:
        session.seedRandom([1, 2, 3, 4])
        raise AssertionError("seeding accepted")
    except PyKCS11.PyKCS11Error as e:
        assert e.value == PyKCS11.CKR_RANDOM_SEED_NOT_SUPPORTED, e
    try:
        lib.openSession(7)
        raise AssertionError("slot 7 opened")
    except PyKCS11.PyKCS11Error as e:
        assert e.value == PyKCS11.CKR_SLOT_ID_INVALID, e
    data = bytes(session.generateRandom(32))
    session.logout()
    session.closeSession()
    sys.stdout.write(data.hex() + "\n")
    sys.exit(0)

child = subprocess.run([sys.executable, __file__, "client"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       check=False)
err = child.stderr.decode(errors="replace")
assert child.returncode == 0, err[-2000:]
assert re.fullmatch(rb"[0-9a-f]{64}\n", child.stdout), child.stdout[:2000]
assert "[C_SeedRandom] not ready\n" in err, err[-2000:]
assert "failed with err = 0x00000003(CKR_SLOT_ID_INVALID)" in err, err[-2000:]
assert re.search(r" T \[\w+\.cpp, C_\w+, Line \d+\]", err), err[-2000:]
