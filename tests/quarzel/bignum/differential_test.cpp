// Differential test of the big-number layers against Python's integers.
// Cases are generated here from a fixed seed; every result line goes to one
// Python run, which recomputes it and reports the lines that differ.
#include <gtest/gtest.h>

#include <sstream>

#include "big_util.h"
#include "quarzel/mpbn.h"
#include "quarzel/mpi.h"
#include "support/oracle.h"
#include "support/seams.h"

namespace {

using bt::Big;
using bt::Handle;
using bt::hex;
using bt::Rng;

constexpr uint64_t kSeed = 0x5EED'B16B'0001ull;

const char* kOracle = R"PY(
import sys, math

def inv(a, n):
    try:
        return pow(a, -1, n)
    except ValueError:
        return None

def h(x):
    return format(x, 'x')

def expect(op, v):
    if op == 'add':
        a, b, size = v; return h((a + b) % (1 << (8 * size)))
    if op == 'sub':
        a, b, size = v; return h((a - b) % (1 << (8 * size)))
    if op == 'mul':
        a, b, size = v; return h((a * b) % (1 << (8 * size)))
    if op == 'div':
        a, b = v
        return 'E4736' if b == 0 else h(a // b) + ',' + h(a % b)
    if op == 'divq':
        a, b, nwq = v
        if b == 0: return 'E4736'
        m, n = (a.bit_length() + 31) // 32, (b.bit_length() + 31) // 32
        if m >= n and nwq < m - n + 1: return 'E4737'
        return h(a // b) + ',' + h(a % b)
    if op == 'mod':
        a, b = v; return 'E3b36' if b == 0 else h(a % b)
    if op == 'modadd':
        a, b, m = v; return h((a + b) % m)
    if op == 'modsub':
        a, b, m = v; return h((a - b) % m)
    if op == 'modmul':
        a, b, m = v; return 'E3b36' if m == 0 else h((a * b) % m)
    if op == 'modexp':
        a, e, n = v; return 'E403b' if n % 2 == 0 else h(pow(a, e, n))
    if op == 'modinv':
        a, n = v
        if n == 0: return 'E4236'
        r = inv(a, n)
        if r is None: return 'E4d41' if n % 2 else 'E4241'
        return h(r)
    if op == 'gcd':
        a, b = v; return 'E3b36' if a == 0 or b == 0 else h(math.gcd(a, b))
    if op == 'coprime':
        a, b = v; return 'E3b36' if a == 0 or b == 0 else h(1 if math.gcd(a, b) == 1 else 0)
    if op == 'cop10001':
        a, = v; return h(0 if a % 65537 == 1 else 1)
    if op == 'montmul':
        a, b, m, nw = v; return h(a * b * pow(1 << (32 * nw), -1, m) % m)
    if op == 'montinit':
        m, nw = v; R = 1 << (32 * nw)
        return h(R % m) + ',' + h(R * R % m) + ',' + h((-pow(m, -1, 1 << 32)) % (1 << 32))
    if op == 'cmp':
        a, b = v; return h(0xA6AA69A5 if a == b else (0xFACEB00C if a < b else 0x94875566))
    return 'unknown-op'

bad = []
count = 0
for line in sys.stdin:
    p = line.split()
    if not p: continue
    count += 1
    got = p[-1]
    v = [int(x, 16) for x in p[1:-1]]
    want = expect(p[0], v)
    if want != got:
        bad.append(line.strip() + '  expected ' + want)
print(count, len(bad))
for b in bad[:10]:
    print(b)
)PY";

std::string err_token(core_ret_t rc) {
  std::ostringstream s;
  s << 'E' << std::hex << rc;
  return s.str();
}

// Collects result lines and checks them in one Python run.
class Oracle {
 public:
  void add(const std::string& op, std::initializer_list<std::string> args, const std::string& got) {
    std::string line = op;
    for (const auto& a : args) line += " " + a;
    line += " " + got + "\n";
    lines_ += line;
    ++count_;
  }
  void check() {
    const std::string out = zt::run_python(kOracle, lines_);
    std::istringstream in(out);
    size_t seen = 0, bad = 0;
    in >> seen >> bad;
    EXPECT_EQ(seen, count_) << out;
    EXPECT_EQ(bad, 0u) << "seed " << std::hex << kSeed << "\n" << out;
  }

 private:
  std::string lines_;
  size_t count_ = 0;
};

std::string num(size_t x) {
  std::ostringstream s;
  s << std::hex << x;
  return s.str();
}

mpi_endian_t pick_tag(Rng& rng) { return rng.coin() ? MPI_ENDIAN_MF_U8 : MPI_ENDIAN_MF_U32; }

// Significant bit length of v.
size_t bit_length(const Big& v) {
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i]) return 32 * (v.size() - i) - static_cast<size_t>(__builtin_clz(v[i]));
  return 0;
}
Big minus_small(Big v, uint32_t k) {  // v - k, v >= k
  uint64_t borrow = k;
  for (size_t i = v.size(); i-- > 0 && borrow;) {
    const uint64_t d = static_cast<uint64_t>(v[i]) - borrow;
    v[i] = static_cast<uint32_t>(d);
    borrow = (d >> 32) & 1;
  }
  return v;
}
// A value below m (m > 0) with the same word count: an edge value or a
// random value with fewer bits than m.
Big below(Rng& rng, const Big& m) {
  switch (rng.range(0, 7)) {
    case 0: return Big(m.size(), 0);
    case 1: {
      Big one(m.size(), 0);
      one.back() = bit_length(m) > 1 ? 1 : 0;
      return one;
    }
    case 2: return minus_small(m, 1);
    default: {
      Big v = rng.random(m.size());
      const size_t bits = bit_length(m) - 1;  // v < 2^(bits) <= m
      for (size_t k = 0; k < 32 * v.size(); ++k)
        if (k >= bits) v[v.size() - 1 - k / 32] &= ~(1u << (k % 32));
      return v;
    }
  }
}
Big nonzero_modulus(Rng& rng, size_t nw, bool force_odd) {
  Big m = rng.operand(nw);
  if (force_odd) m.back() |= 1;
  if (bit_length(m) == 0) m.back() = 7;
  return m;
}

// Runs one mpi operation and checks its side conditions: operands keep
// their bytes and tags, the result takes the first operand's tag.
struct Operand {
  Operand(Rng& rng, const Big& v, size_t size) : h(v, size, pick_tag(rng), rng.coin()) {
    raw = h.raw();
    tag = h.get()->endian;
  }
  void expect_unchanged(const char* what) {
    EXPECT_EQ(h.raw(), raw) << what << " seed " << std::hex << kSeed;
    EXPECT_EQ(h.get()->endian, tag) << what;
  }
  Handle h;
  std::vector<uint8_t> raw;
  mpi_endian_t tag;
};

std::string result_of(core_ret_t rc, Handle& x, const Operand& first) {
  if (rc != 0) return err_token(rc);
  EXPECT_EQ(x.get()->endian, first.tag);
  return hex(x.value());
}

void run_differential() {
  Rng rng(kSeed);
  Oracle oracle;
  auto words = [&](size_t lo = 1, size_t hi = 130) { return rng.range(lo, hi); };

  // add, sub, mul on handles.
  for (int i = 0; i < 120; ++i) {
    const size_t na = words(), nb = rng.range(1, na);
    const Big a = rng.operand(na), b = i % 7 == 0 ? a : rng.operand(nb);
    const size_t nbb = b.size();
    Operand A(rng, a, 4 * na), B(rng, b, 4 * nbb);
    if (A.tag == B.tag) {  // add/sub run in the shared tag
      Handle X(Big{}, 4 * na, MPI_ENDIAN_MF_U8, rng.coin());
      oracle.add("add", {hex(a), hex(b), num(4 * na)}, result_of(mpi_add(X.get(), A.h.get(), B.h.get()), X, A));
      if (na == nbb) {
        Handle Y(Big{}, 4 * na, MPI_ENDIAN_MF_U8, rng.coin());
        oracle.add("sub", {hex(a), hex(b), num(4 * na)}, result_of(mpi_sub(Y.get(), A.h.get(), B.h.get()), Y, A));
      }
    }
    const size_t nx = rng.range(na, na + nbb + 1);
    Handle P(Big{}, 4 * nx, MPI_ENDIAN_MF_U8, rng.coin());
    oracle.add("mul", {hex(a), hex(b), num(4 * nx)}, result_of(mpi_mul(P.get(), A.h.get(), B.h.get()), P, A));
    A.expect_unchanged("mul A");
    B.expect_unchanged("mul B");
  }

  // div and mod on handles, including zero divisors and a < b.
  for (int i = 0; i < 150; ++i) {
    const size_t na = words(), nb = i % 5 == 0 ? words() % na + 1 : words(1, na);
    const Big a = rng.operand(na);
    Big b = rng.operand(nb);
    if (i % 11 == 0) b = Big(nb, 0);
    if (i % 13 == 0 && nb == na) b = a;
    Operand A(rng, a, 4 * na), B(rng, b, 4 * nb);
    Handle Q(Big{}, 4 * rng.range(na, na + 2), MPI_ENDIAN_MF_U8, rng.coin());
    Handle R(Big{}, 4 * rng.range(nb, nb + 2), MPI_ENDIAN_MF_U8, rng.coin());
    const core_ret_t rc = mpi_div(Q.get(), R.get(), A.h.get(), B.h.get());
    oracle.add("div", {hex(a), hex(b)}, rc ? err_token(rc) : hex(Q.value()) + "," + hex(R.value()));
    Handle M(Big{}, 4 * nb, MPI_ENDIAN_MF_U8, rng.coin());
    oracle.add("mod", {hex(a), hex(b)}, result_of(mpi_mod(M.get(), A.h.get(), B.h.get()), M, A));
    A.expect_unchanged("div A");
    B.expect_unchanged("div B");
  }

  // Word-level division with short and exact quotient arrays.
  for (int i = 0; i < 120; ++i) {
    const size_t na = words(1, 40), nb = words(1, 40);
    const Big a = rng.operand(na);
    Big b = rng.operand(nb);
    if (i % 9 == 0) {  // one significant divisor word behind zero words
      b.assign(nb, 0);
      b.back() = rng.word() | 1;
    }
    const size_t nq = rng.range(0, na + 1);
    Big q(nq + 1, 0xA5A5A5A5u), r(nb, 0xA5A5A5A5u);
    const core_ret_t rc = mpbn_div(static_cast<uint32_t>(na), a.data(), static_cast<uint32_t>(nb), b.data(),
                                   static_cast<uint32_t>(nq), q.data(), r.data());
    q.resize(nq);
    oracle.add("divq", {hex(a), hex(b), num(nq)}, rc ? err_token(rc) : hex(q) + "," + hex(r));
  }

  // Modular add, sub, mul with operands below the modulus (mul: any).
  for (int i = 0; i < 150; ++i) {
    const size_t n = words();
    const Big m = nonzero_modulus(rng, n, false);
    const Big a = below(rng, m), b = i % 6 == 0 ? a : below(rng, m);
    Operand A(rng, a, 4 * n), B(rng, b, 4 * n), M(rng, m, 4 * n);
    Handle X(Big{}, 4 * n, MPI_ENDIAN_MF_U8, rng.coin());
    oracle.add("modadd", {hex(a), hex(b), hex(m)},
               result_of(mpi_mod_add(X.get(), A.h.get(), B.h.get(), M.h.get()), X, A));
    oracle.add("modsub", {hex(a), hex(b), hex(m)},
               result_of(mpi_mod_sub(X.get(), A.h.get(), B.h.get(), M.h.get()), X, A));
    const Big c = rng.operand(n), d = rng.operand(n);  // may exceed m
    Operand C(rng, c, 4 * n), D(rng, d, 4 * n);
    oracle.add("modmul", {hex(c), hex(d), hex(m)},
               result_of(mpi_mod_mul(X.get(), C.h.get(), D.h.get(), M.h.get()), X, C));
    M.expect_unchanged("modmul M");
  }

  // Modular exponentiation: moduli of 1 to 130 words, short exponents, and
  // a few full-length ones; even moduli must be refused.
  for (int i = 0; i < 60; ++i) {
    const size_t n = words();
    const size_t ne = i % 20 == 0 ? n : words(1, 3);
    const Big m = nonzero_modulus(rng, n, i % 15 != 7);
    const Big a = i % 4 == 0 ? rng.operand(n) : below(rng, m);
    const Big e = rng.operand(ne);
    Operand A(rng, a, 4 * n), E(rng, e, 4 * ne), N(rng, m, 4 * n);
    Handle X(Big{}, 4 * n, MPI_ENDIAN_MF_U8, rng.coin());
    oracle.add("modexp", {hex(a), hex(e), hex(m)},
               result_of(mpi_mod_exp(X.get(), A.h.get(), E.h.get(), N.h.get()), X, A));
    A.expect_unchanged("modexp A");
    E.expect_unchanged("modexp E");
  }
  // Word level: odd and even word counts (the key sizes first), leading
  // zero words in the modulus.
  const size_t key_words[] = {8, 16, 32, 48, 64, 96, 128, 17};
  for (int i = 0; i < 48; ++i) {
    const size_t n = i < 8 ? key_words[i] : words(1, 70);
    Big m = rng.random(n);
    m.back() |= 1;
    if (i % 3 == 0)
      for (size_t k = 0; k < n / 2; ++k) m[k] = 0;
    const Big a = rng.operand(n), e = rng.operand(rng.range(1, 3));
    Big r(n);
    const core_ret_t rc = mpbn_mod_exp(static_cast<uint32_t>(n), a.data(), m.data(), static_cast<uint32_t>(e.size()),
                                       e.data(), r.data());
    oracle.add("modexp", {hex(a), hex(e), hex(m)}, rc ? err_token(rc) : hex(r));
  }

  // Inversion modulo odd and even moduli.
  for (int i = 0; i < 150; ++i) {
    const size_t n = i < 100 ? words(1, 40) : words();
    Big m = nonzero_modulus(rng, n, false);
    if (i % 2) m.back() |= 1;
    Big a = i % 10 == 0 ? rng.operand(n) : below(rng, m);
    if (i % 17 == 0) a = Big(n, 0);
    Operand A(rng, a, 4 * n), N(rng, m, 4 * n);
    Handle X(Big{}, 4 * n, MPI_ENDIAN_MF_U8, rng.coin());
    oracle.add("modinv", {hex(a), hex(m)}, result_of(mpi_mod_inv(X.get(), A.h.get(), N.h.get()), X, A));
  }

  // gcd and coprimality, operands of different lengths, up to 4160 bits.
  for (int i = 0; i < 120; ++i) {
    const size_t na = words();
    size_t nb = words();
    Big a = rng.operand(na), b = rng.operand(nb);
    if (i % 7 == 0) {  // a common factor
      const uint32_t f = rng.word() | 1;
      uint64_t c = 0;
      for (size_t k = a.size(); k-- > 0;) {
        const uint64_t p = static_cast<uint64_t>(a[k] & 0x7FFFFFFF) * f + c;
        a[k] = static_cast<uint32_t>(p);
        c = p >> 32;
      }
    }
    if (i % 10 == 0) {
      b = a;
      nb = na;
    }
    Operand A(rng, a, 4 * na), B(rng, b, 4 * nb);
    const size_t ng = std::max(na, nb) + rng.range(0, 2);
    Handle G(Big{}, 4 * ng, MPI_ENDIAN_MF_U8, rng.coin());
    oracle.add("gcd", {hex(a), hex(b)}, result_of(mpi_gcd(G.get(), A.h.get(), B.h.get()), G, A));
    uint32_t co = 0xDEAD;
    const core_ret_t rc = mpi_check_coprime(A.h.get(), B.h.get(), &co);
    oracle.add("coprime", {hex(a), hex(b)}, rc ? err_token(rc) : num(co));
    uint32_t c2 = 0xDEAD;
    const core_ret_t rc2 = mpi_coprime_a_minus_1_with_0x10001(A.h.get(), &c2);
    oracle.add("cop10001", {hex(a)}, rc2 ? err_token(rc2) : num(c2));
    A.expect_unchanged("gcd A");
    B.expect_unchanged("gcd B");
  }
  // A mod 65537 == 1 exactly.
  for (uint32_t k : {1u, 65538u, 65539u, 2 * 65537u + 1}) {
    Big a{0, k};
    Operand A(rng, a, 8);
    uint32_t c = 0xDEAD;
    const core_ret_t rc = mpi_coprime_a_minus_1_with_0x10001(A.h.get(), &c);
    oracle.add("cop10001", {hex(a)}, rc ? err_token(rc) : num(c));
  }

  // Montgomery set-up and product against their definitions (R = 2^(32 nw)).
  for (int i = 0; i < 88; ++i) {
    const size_t n = i < 8 ? key_words[i] : words(1, 70);
    Big m = rng.operand(n);
    m.back() |= 1;
    mpbn_mont_ctx_t ctx{};
    Big rm(n), r2(n);
    core_ret_t rc = mpbn_mont_init(&ctx, static_cast<uint32_t>(n), m.data(), rm.data(), r2.data());
    oracle.add("montinit", {hex(m), num(n)}, rc ? err_token(rc) : hex(rm) + "," + hex(r2) + "," + num(ctx.m_inv));
    const Big a = below(rng, m), b = below(rng, m);
    Big r(n);
    rc = mpbn_mont_mult(&ctx, static_cast<uint32_t>(n), m.data(), a.data(), b.data(), r.data());
    oracle.add("montmul", {hex(a), hex(b), hex(m), num(n)}, rc ? err_token(rc) : hex(r));
  }

  // Constant-time comparison in mixed byte orders.
  for (int i = 0; i < 60; ++i) {
    const size_t n = words(1, 20);
    const Big a = rng.operand(n), b = i % 3 == 0 ? a : rng.operand(n);
    Operand A(rng, a, 4 * n), B(rng, b, 4 * n);
    uint32_t c = 0;
    const core_ret_t rc = mpi_cmp_mpi(A.h.get(), B.h.get(), &c);
    oracle.add("cmp", {hex(a), hex(b)}, rc ? err_token(rc) : num(c));
  }

  oracle.check();
}

TEST(Differential, AgreesWithPythonOnTheDefaultPath) { run_differential(); }

TEST(Differential, AgreesWithPythonOnThePortablePath) {
  zt::PortablePath portable(quarzel::testing::Path::mpbn);
  ASSERT_FALSE(quarzel::mpbn_mont_uses_adx());
  run_differential();
}

}  // namespace
