# Keccak sponge written directly from FIPS 202 (sections 3.2 and 4-5): slow,
# for tests only. sponge(rate, suffix, msg, n) pads with the suffix bits and
# pad10*1; suffix 0x06 gives SHA-3, 0x1F SHAKE, 0x01 the original Keccak.

MASK = (1 << 64) - 1


def rc_bit(t):
    # rc(t), FIPS 202 Algorithm 5.
    if t % 255 == 0:
        return 1
    r = [1, 0, 0, 0, 0, 0, 0, 0]
    for _ in range(t % 255):
        r = [0] + r
        r[0] ^= r[8]
        r[4] ^= r[8]
        r[5] ^= r[8]
        r[6] ^= r[8]
        r = r[:8]
    return r[0]


RC = []
for ir in range(24):
    v = 0
    for j in range(7):
        v |= rc_bit(j + 7 * ir) << ((1 << j) - 1)
    RC.append(v)

# Rotation offsets of rho, FIPS 202 Algorithm 2.
ROT = [[0] * 5 for _ in range(5)]
_x, _y = 1, 0
for _t in range(24):
    ROT[_x][_y] = ((_t + 1) * (_t + 2) // 2) % 64
    _x, _y = _y, (2 * _x + 3 * _y) % 5


def rotl(v, n):
    return ((v << n) | (v >> (64 - n))) & MASK if n else v


def keccak_f(a):
    # a[x][y], 64-bit lanes.
    for ir in range(24):
        c = [a[x][0] ^ a[x][1] ^ a[x][2] ^ a[x][3] ^ a[x][4] for x in range(5)]
        d = [c[(x - 1) % 5] ^ rotl(c[(x + 1) % 5], 1) for x in range(5)]
        a = [[a[x][y] ^ d[x] for y in range(5)] for x in range(5)]
        b = [[0] * 5 for _ in range(5)]
        for x in range(5):
            for y in range(5):
                b[y][(2 * x + 3 * y) % 5] = rotl(a[x][y], ROT[x][y])
        a = [[b[x][y] ^ ((~b[(x + 1) % 5][y]) & b[(x + 2) % 5][y]) for y in range(5)] for x in range(5)]
        a[0][0] ^= RC[ir]
    return a


def sponge(rate, suffix, msg, n):
    p = bytearray(msg)
    p.append(suffix)
    while len(p) % rate:
        p.append(0)
    p[-1] |= 0x80
    a = [[0] * 5 for _ in range(5)]
    for off in range(0, len(p), rate):
        for i in range(rate // 8):
            lane = int.from_bytes(p[off + 8 * i:off + 8 * i + 8], 'little')
            a[i % 5][i // 5] ^= lane
        a = keccak_f(a)
    out = bytearray()
    while True:
        for i in range(rate // 8):
            out += a[i % 5][i // 5].to_bytes(8, 'little')
        if len(out) >= n:
            return bytes(out[:n])
        a = keccak_f(a)
