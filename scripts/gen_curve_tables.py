#!/usr/bin/env python3
"""Generate (or check) the constant elliptic-curve domain-parameter tables.

Sources of the parameters: FIPS 186-4 appendix D.1.2 (P-224 .. P-521),
SEC 2 v2 section 2.4.1 (secp256k1), RFC 5639 section 3 (brainpool).

Every curve is verified before anything is written: p and n are probable
primes, the generator satisfies y^2 = x^3 + a*x + b (mod p), n*G is the point
at infinity (cofactor 1), and the working multiple zdnp = c*p fills its width
with the top bits 011. The checksum is SHA3-256 over the full-width
big-endian encodings of p, a, b, Gx, Gy, n and zdnp.

  gen_curve_tables.py            rewrite src/quarzel/ec/curve_tables_data.h
  gen_curve_tables.py --check    exit 1 when the file differs from the output
"""
import hashlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "src", "quarzel", "ec", "curve_tables_data.h")


def h(s):
    return int(s.replace(" ", "").replace("\n", ""), 16)


# name, id, table prefix, words, bits, working words, good, zdnp multiplier,
# p, a, b, Gx, Gy, n
CURVES = [
    dict(name="P-224", cid=17, tag="nistp224", nw=7, nbits=224, nwz=8, good=1, c=0x60200000,
         p=2**224 - 2**96 + 1, a=None,
         b=h("b4050a85 0c04b3ab f5413256 5044b0b7 d7bfd8ba 270b3943 2355ffb4"),
         gx=h("b70e0cbd 6bb4bf7f 321390b9 4a03c1d3 56c21122 343280d6 115c1d21"),
         gy=h("bd376388 b5f723fb 4c22dfe6 cd4375a0 5a074764 44d58199 85007e34"),
         n=h("ffffffff ffffffff ffffffff ffff16a2 e0b8f03e 13dd2945 5c5c2a3d")),
    dict(name="P-256", cid=18, tag="nistp256", nw=8, nbits=256, nwz=9, good=1, c=0x60200000,
         p=2**256 - 2**224 + 2**192 + 2**96 - 1, a=None,
         b=h("5ac635d8 aa3a93e7 b3ebbd55 769886bc 651d06b0 cc53b0f6 3bce3c3e 27d2604b"),
         gx=h("6b17d1f2 e12c4247 f8bce6e5 63a440f2 77037d81 2deb33a0 f4a13945 d898c296"),
         gy=h("4fe342e2 fe1a7f9b 8ee7eb4a 7c0f9e16 2bce3357 6b315ece cbb64068 37bf51f5"),
         n=h("ffffffff 00000000 ffffffff ffffffff bce6faad a7179e84 f3b9cac2 fc632551")),
    dict(name="P-384", cid=19, tag="nistp384", nw=12, nbits=384, nwz=13, good=1, c=0x60200000,
         p=2**384 - 2**128 - 2**96 + 2**32 - 1, a=None,
         b=h("b3312fa7 e23ee7e4 988e056b e3f82d19 181d9c6e fe814112 0314088f 5013875a"
             "c656398d 8a2ed19d 2a85c8ed d3ec2aef"),
         gx=h("aa87ca22 be8b0537 8eb1c71e f320ad74 6e1d3b62 8ba79b98 59f741e0 82542a38"
              "5502f25d bf55296c 3a545e38 72760ab7"),
         gy=h("3617de4a 96262c6f 5d9e98bf 9292dc29 f8f41dbd 289a147c e9da3113 b5f0b8c0"
              "0a60b1ce 1d7e819d 7a431d7c 90ea0e5f"),
         n=h("ffffffff ffffffff ffffffff ffffffff ffffffff ffffffff c7634d81 f4372ddf"
             "581a0db2 48b0a77a ecec196a ccc52973")),
    dict(name="P-521", cid=20, tag="nistp521", nw=17, nbits=521, nwz=17, good=1, c=0x00301000,
         p=2**521 - 1, a=None,
         b=h("051 953eb961 8e1c9a1f 929a21a0 b68540ee a2da725b 99b315f3 b8b48991 8ef109e1"
             "56193951 ec7e937b 1652c0bd 3bb1bf07 3573df88 3d2c34f1 ef451fd4 6b503f00"),
         gx=h("c6 858e06b7 0404e9cd 9e3ecb66 2395b442 9c648139 053fb521 f828af60 6b4d3dba"
              "a14b5e77 efe75928 fe1dc127 a2ffa8de 3348b3c1 856a429b f97e7e31 c2e5bd66"),
         gy=h("118 39296a78 9a3bc004 5c8a5fb4 2c7d1bd9 98f54449 579b4468 17afbd17 273e662c"
              "97ee7299 5ef42640 c550b901 3fad0761 353c7086 a272c240 88be9476 9fd16650"),
         n=h("1ff ffffffff ffffffff ffffffff ffffffff ffffffff ffffffff ffffffff fffffffa"
             "51868783 bf2f966b 7fcc0148 f709a5d0 3bb5c9b8 899c47ae bb6fb71e 91386409")),
    dict(name="secp256k1", cid=34, tag="256k1", nw=8, nbits=256, nwz=9, good=0, c=0x60200000,
         p=2**256 - 2**32 - 977, a=0, b=7,
         gx=h("79BE667E F9DCBBAC 55A06295 CE870B07 029BFCDB 2DCE28D9 59F2815B 16F81798"),
         gy=h("483ADA77 26A3C465 5DA4FBFC 0E1108A8 FD17B448 A6855419 9C47D08F FB10D4B8"),
         n=h("FFFFFFFF FFFFFFFF FFFFFFFF FFFFFFFE BAAEDCE6 AF48A03B BFD25E8C D0364141")),
    dict(name="brainpoolP256r1", cid=67, tag="brainp256r1", nw=8, nbits=256, nwz=9, good=0,
         c=0x90A00000,
         p=h("A9FB57DBA1EEA9BC3E660A909D838D726E3BF623D52620282013481D1F6E5377"),
         a=h("7D5A0975FC2C3057EEF67530417AFFE7FB8055C126DC5C6CE94A4B44F330B5D9"),
         b=h("26DC5C6CE94A4B44F330B5D9BBD77CBF958416295CF7E1CE6BCCDC18FF8C07B6"),
         gx=h("8BD2AEB9CB7E57CB2C4B482FFC81B7AFB9DE27E1E3BD23C23A4453BD9ACE3262"),
         gy=h("547EF835C3DAC4FD97F8461A14611DC9C27745132DED8E545C1D54C72F046997"),
         n=h("A9FB57DBA1EEA9BC3E660A909D838D718C397AA3B561A6F7901E0E82974856A7")),
    dict(name="brainpoolP384r1", cid=69, tag="brainp384r1", nw=12, nbits=384, nwz=13, good=0,
         c=0xAEC00000,
         p=h("8CB91E82A3386D280F5D6F7E50E641DF152F7109ED5456B412B1DA197FB71123"
             "ACD3A729901D1A71874700133107EC53"),
         a=h("7BC382C63D8C150C3C72080ACE05AFA0C2BEA28E4FB22787139165EFBA91F90F"
             "8AA5814A503AD4EB04A8C7DD22CE2826"),
         b=h("04A8C7DD22CE28268B39B55416F0447C2FB77DE107DCD2A62E880EA53EEB62D5"
             "7CB4390295DBC9943AB78696FA504C11"),
         gx=h("1D1C64F068CF45FFA2A63A81B7C13F6B8847A3E77EF14FE3DB7FCAFE0CBD10E8"
              "E826E03436D646AAEF87B2E247D4AF1E"),
         gy=h("8ABE1D7520F9C2A45CB1EB8E95CFD55262B70B29FEEC5864E19C054FF9912928"
              "0E4646217791811142820341263C5315"),
         n=h("8CB91E82A3386D280F5D6F7E50E641DF152F7109ED5456B31F166E6CAC0425A7"
             "CF3AB6AF6B7FC3103B883202E9046565")),
    dict(name="brainpoolP512r1", cid=70, tag="brainp512r1", nw=16, nbits=512, nwz=17, good=0,
         c=0x90000000,
         p=h("AADD9DB8DBE9C48B3FD4E6AE33C9FC07CB308DB3B3C9D20ED6639CCA70330871"
             "7D4D9B009BC66842AECDA12AE6A380E62881FF2F2D82C68528AA6056583A48F3"),
         a=h("7830A3318B603B89E2327145AC234CC594CBDD8D3DF91610A83441CAEA9863BC"
             "2DED5D5AA8253AA10A2EF1C98B9AC8B57F1117A72BF2C7B9E7C1AC4D77FC94CA"),
         b=h("3DF91610A83441CAEA9863BC2DED5D5AA8253AA10A2EF1C98B9AC8B57F1117A7"
             "2BF2C7B9E7C1AC4D77FC94CADC083E67984050B75EBAE5DD2809BD638016F723"),
         gx=h("81AEE4BDD82ED9645A21322E9C4C6A9385ED9F70B5D916C1B43B62EEF4D0098E"
              "FF3B1F78E2D0D48D50D1687B93B97D5F7C6D5047406A5E688B352209BCB9F822"),
         gy=h("7DDE385D566332ECC0EABFA9CF7822FDF209F70024A57B1AA000C55B881F8111"
              "B2DCDE494A5F485E5BCA4BD88A2763AED1CA2B2FA8F0540678CD1E0F3AD80892"),
         n=h("AADD9DB8DBE9C48B3FD4E6AE33C9FC07CB308DB3B3C9D20ED6639CCA70330870"
             "553E5C414CA92619418661197FAC10471DB1D381085DDADDB58796829CA90069")),
]


def is_probable_prime(m):
    if m < 2:
        return False
    for q in (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37):
        if m % q == 0:
            return m == q
    d, s = m - 1, 0
    while d % 2 == 0:
        d //= 2
        s += 1
    for base in (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53):
        x = pow(base, d, m)
        if x in (1, m - 1):
            continue
        for _ in range(s - 1):
            x = x * x % m
            if x == m - 1:
                break
        else:
            return False
    return True


def ec_add(P, Q, a, p):
    if P is None:
        return Q
    if Q is None:
        return P
    (x1, y1), (x2, y2) = P, Q
    if x1 == x2 and (y1 + y2) % p == 0:
        return None
    if P == Q:
        lam = (3 * x1 * x1 + a) * pow(2 * y1, -1, p) % p
    else:
        lam = (y2 - y1) * pow(x2 - x1, -1, p) % p
    x3 = (lam * lam - x1 - x2) % p
    return (x3, (lam * (x1 - x3) - y1) % p)


def ec_mul(k, P, a, p):
    R = None
    for bit in bin(k)[2:]:
        R = ec_add(R, R, a, p)
        if bit == "1":
            R = ec_add(R, P, a, p)
    return R


def verify(c):
    p, a, b, gx, gy, n = c["p"], c["a"], c["b"], c["gx"], c["gy"], c["n"]
    name = c["name"]
    assert is_probable_prime(p), name + ": p is not prime"
    assert is_probable_prime(n), name + ": n is not prime"
    assert p.bit_length() == c["nbits"], name + ": bit length"
    assert p.bit_length() <= 32 * c["nw"] and n.bit_length() <= 32 * c["nw"], name + ": width"
    assert max(a, b, gx, gy) < p, name + ": parameter not below p"
    assert (4 * a ** 3 + 27 * b * b) % p != 0, name + ": singular curve"
    assert (gy * gy - (gx ** 3 + a * gx + b)) % p == 0, name + ": G not on the curve"
    assert ec_mul(n, (gx, gy), a, p) is None, name + ": n*G is not the point at infinity"
    # Hasse bound with cofactor 1: |p + 1 - n| <= 2*sqrt(p).
    assert (p + 1 - n) ** 2 <= 4 * p, name + ": cofactor is not 1"
    z = c["c"] * p
    assert z.bit_length() == 32 * c["nwz"] - 1 and z >> (32 * c["nwz"] - 3) == 0b011, \
        name + ": zdnp does not fill its width with top bits 011"


def words(v, nw):
    assert v < 1 << (32 * nw)
    return [(v >> (32 * (nw - 1 - i))) & 0xFFFFFFFF for i in range(nw)]


def checksum(c):
    nw, nwz = c["nw"], c["nwz"]
    data = b"".join(c[k].to_bytes(4 * nw, "big") for k in ("p", "a", "b", "gx", "gy", "n"))
    data += (c["c"] * c["p"]).to_bytes(4 * nwz, "big")
    return int.from_bytes(hashlib.sha3_256(data).digest(), "big")


def fmt_array(name, ws):
    lines = []
    for i in range(0, len(ws), 6):
        lines.append("    " + ", ".join("0x%08X" % w for w in ws[i:i + 6]) + ",")
    return "inline constexpr uint32_t %s[%d] = {\n%s\n};\n" % (name, len(ws), "\n".join(lines))


def render():
    out = [
        "// Generated by scripts/gen_curve_tables.py from FIPS 186-4 D.1.2, SEC 2 and RFC 5639.\n"
        "// Do not edit: change the script and run it again (--check verifies this file).\n"
        "// Values are 32-bit words, most significant word first.\n"
        "#pragma once\n\n#include <cstdint>\n\nnamespace quarzel::ec::tables {\n"
    ]
    for c in CURVES:
        out.append("\n// %s\n" % c["name"])
        nw = c["nw"]
        for key, label in (("p", "p"), ("a", "a"), ("b", "b"), ("gx", "Gx"), ("gy", "Gy"), ("n", "n")):
            out.append(fmt_array("Sec_crv_p_%s_%s_const" % (c["tag"], label), words(c[key], nw)))
        out.append(fmt_array("Sec_crv_p_%s_zdnp_const" % c["tag"], words(c["c"] * c["p"], c["nwz"])))
        out.append(fmt_array("Sec_crv_p_%s_checksum_const" % c["tag"], words(checksum(c), 8)))
        if c["tag"] == "256k1":
            out.append(fmt_array("Sec_crv_p_256k1_n_h_const", words((c["n"] - 1) // 2, nw)))
    out.append("\n}  // namespace quarzel::ec::tables\n")
    return "".join(out)


def main():
    for c in CURVES:
        if c["a"] is None:
            c["a"] = c["p"] - 3
        verify(c)
    text = render()
    if "--check" in sys.argv[1:]:
        with open(OUT) as f:
            if f.read() != text:
                print("curve_tables_data.h differs from the generated tables", file=sys.stderr)
                return 1
        print("curve tables verified (%d curves)" % len(CURVES))
        return 0
    with open(OUT, "w") as f:
        f.write(text)
    print("wrote", os.path.relpath(OUT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
