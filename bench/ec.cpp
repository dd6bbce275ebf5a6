// EC throughput: key-pair generation, ECDSA sign and verify, ECDH.
// Compare with `openssl speed ecdsap256 ecdsap384 ecdsap521 ecdhp256 ecdhp384
// ecdhp521`, run on the same core in alternate rounds (the machine is shared).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "quarzel/ecc.h"

namespace {

// The curve of the running benchmark, set by its registration (below), so
// that results read "Sign/P-256" rather than a curve number.
ecc_crv_t g_curve = ECC_CRV_NIST_P256;

struct Keys {
  ecc_prikey_t d{};
  ecc_pubkey_t q{};
  uint32_t L = 0;
  explicit Keys(ecc_crv_t crv) {
    ecc_prikey_init(&d, crv);
    ecc_pubkey_init(&q, crv);
    (void)ecc_prikey_value_alloc(&d);
    (void)ecc_pubkey_value_alloc(&q);
    (void)ecc_get_length(crv, &L);
    if (ecc_gen_keypair(crv, ECC_KEYGEN_EXTRA_RND_BITS, &d, &q) != 0) std::abort();
  }
  ~Keys() {
    (void)ecc_prikey_value_free(&d);
    (void)ecc_pubkey_value_free(&q);
  }
};

void BM_Keygen(benchmark::State& state) {
  const ecc_crv_t crv = g_curve;
  Keys k(crv);
  for (auto _ : state) {
    if (ecc_gen_keypair(crv, ECC_KEYGEN_EXTRA_RND_BITS, &k.d, &k.q) != 0) state.SkipWithError("keygen");
  }
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Sign(benchmark::State& state) {
  const ecc_crv_t crv = g_curve;
  Keys k(crv);
  std::vector<uint8_t> digest(32, 0x5A), r(k.L), s(k.L);
  for (auto _ : state) {
    if (ecdsa_sign(&k.d, 32, digest.data(), nullptr, r.data(), s.data()) != 0) state.SkipWithError("sign");
  }
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Verify(benchmark::State& state) {
  const ecc_crv_t crv = g_curve;
  Keys k(crv);
  std::vector<uint8_t> digest(32, 0x5A), r(k.L), s(k.L);
  if (ecdsa_sign(&k.d, 32, digest.data(), nullptr, r.data(), s.data()) != 0) std::abort();
  for (auto _ : state) {
    uint32_t verdict = 0;
    if (ecdsa_verify(&k.q, 32, digest.data(), r.data(), s.data(), &verdict) != 0 || verdict != QZ_TRUE)
      state.SkipWithError("verify");
  }
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Ecdh(benchmark::State& state) {
  const ecc_crv_t crv = g_curve;
  Keys a(crv), b(crv);
  std::vector<uint8_t> ss(a.L);
  for (auto _ : state) {
    uint32_t len = a.L;
    if (ecdh_derive_shared_secret(&a.d, &b.q, &len, ss.data()) != 0) state.SkipWithError("ecdh");
  }
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

const int kRegistered = [] {
  constexpr struct {
    const char* name;
    ecc_crv_t crv;
  } kCurves[] = {{"P-256", ECC_CRV_NIST_P256}, {"P-384", ECC_CRV_NIST_P384}, {"P-521", ECC_CRV_NIST_P521},
                 {"secp256k1", ECC_CRV_SECP256K1}, {"brainpoolP256r1", ECC_CRV_BP256R1}};
  constexpr struct {
    const char* name;
    void (*fn)(benchmark::State&);
  } kOps[] = {{"Keygen", BM_Keygen}, {"Sign", BM_Sign}, {"Verify", BM_Verify}, {"Ecdh", BM_Ecdh}};
  for (const auto& op : kOps) {
    for (const auto& c : kCurves) {
      benchmark::RegisterBenchmark((std::string(op.name) + "/" + c.name).c_str(),
                                   [fn = op.fn, crv = c.crv](benchmark::State& st) {
                                     g_curve = crv;
                                     fn(st);
                                   })
          ->Unit(benchmark::kMicrosecond);
    }
  }
  return 0;
}();

}  // namespace
