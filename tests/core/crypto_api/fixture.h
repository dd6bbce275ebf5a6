// A software HSM in a fresh directory with a token and a session logged in
// as its user; the session's crypto adapter context for adapter-level tests.
#pragma once

#include <random>

#include "core/crypto_api/ossl.h"
#include "core/integration/hsm_fixture.h"
#include "zeb/adapters.h"
#include "zeb/crypto_adapter.h"

namespace ct {

class UserSession : public zt::CoreHsm {
 protected:
  void SetUp() override {
    zt::CoreHsm::SetUp();
    if (HasFatalFailure()) return;
    token = create_token();
    user = user_session(token);
    // A session that failed to open has no context: stop here rather than
    // let every test dereference nothing.
    VRK_SESSION_CTX* s = SwSess_GetCtx(user);
    ASSERT_NE(s, nullptr) << "no session";
    ctx = &s->CaCtx;
  }
  // A plain key wrapped under the session key, as the provider takes it.
  Bytes session_blob(const Bytes& plain) {
    Bytes out(plain.size());
    uint32_t n = static_cast<uint32_t>(out.size());
    EXPECT_EQ(SwTkn_PlainKey2Sw(user, const_cast<uint8_t*>(plain.data()), static_cast<uint32_t>(plain.size()),
                                out.data(), &n),
              0u);
    return out;
  }
  Bytes session_plain(const Bytes& blob) {
    Bytes out(blob.size());
    uint32_t n = static_cast<uint32_t>(out.size());
    EXPECT_EQ(
        SwTkn_SwKey2Plain(user, const_cast<uint8_t*>(blob.data()), static_cast<uint32_t>(blob.size()), out.data(), &n),
        0u);
    return out;
  }

  std::vector<uint8_t> token;
  VRK_HANDLE user = 0;
  CryptoAdapterCtx* ctx = nullptr;
  std::mt19937 rng{20261210};
};

}  // namespace ct
