// Class 0x86: the HSM, its tokens, users, PINs and sessions, through the
// software device. PINs arrive as SHA-256 digests and reach the software
// device in its text form of a digest (pin_from_digest); the software
// device's own default PINs (serial numbers, set at token creation and at a
// reset) are turned into that form as soon as it writes them.
#include <cstring>
#include <filesystem>

#include "sim_internal.h"
#include "swhsm/swd.h"

namespace se::sim {
namespace {

using Pin = std::array<uint8_t, 32>;

// A plain default PIN of the software device in the digest form.
void fix_pin(uint8_t* pin, uint32_t* len) {
  if (*len == 32) return;  // already a digest's form
  Pin m{};
  if (!pin_from_plain({pin, *len}, &m)) return;
  std::memcpy(pin, m.data(), 32);
  *len = 32;
}

uint32_t fix_token_pins(const uint8_t* id) {
  char idz[17] = {};
  std::memcpy(idz, id, 16);
  TKN_USER_CFG c{};
  uint32_t rc = _swdev_GetTokenUserCFG(idz, &c);
  if (rc == 0) {
    fix_pin(c.NormalUserPin, &c.u32NormalUserPinLen);
    fix_pin(c.SuperUserPin, &c.u32SuperUserPinLen);
    rc = _swdev_SetTokenUserCFG(idz, &c);
  }
  quarzel::secure_wipe(&c, sizeof c);
  return rc;
}

uint32_t fix_admin_pin() {
  HSM_ADMIN_CFG c{};
  uint32_t rc = GetHsmAdminCFG(&c);
  if (rc == 0 && c.u32PinLen != 32) {
    fix_pin(c.Pin, &c.u32PinLen);
    rc = SetHsmAdminCFG(&c);
  }
  quarzel::secure_wipe(&c, sizeof c);
  return rc;
}

template <class T>
std::vector<uint8_t> rec(const T& r) {
  return bytes(&r, sizeof r);
}

}  // namespace

Result Simulator::Impl::device(const cmd::Command& c, const Args& a) {
  namespace d = cmd::dev;
  const uint32_t h = c.request.empty() ? 0 : a.u32(0);
  // Commands that name the HSM carry SE_HSM_HANDLE.
  if (!c.request.empty() && std::strcmp(c.request[0].name, cmd::f::hHsm.name) == 0 && h != cmd::SE_HSM_HANDLE) {
    return Result::err(kSessionHandle);
  }
  uint32_t rc = 0;
  auto pin = [&](size_t i) { return pin_from_digest(a.f[i]); };
  auto done = [&](uint32_t code) { return code == 0 ? ok() : Result::err(code); };

  if (&c == &d::GetVersion) {
    ZEB_DEVICE_VERSION v{};
    rc = SWD_GetVersion(hsm(), &v);
    return rc ? Result::err(rc) : ok(rec(v));
  }
  if (&c == &d::GetHsmInfo) {
    ZEB_DEVICE_HSM_INFO i{};
    rc = SWD_GetHsmInfo(hsm(), &i);
    return rc ? Result::err(rc) : ok(rec(i));
  }
  if (&c == &d::LoginHsmByPin) {
    Pin p = pin(1);
    return done(SWD_LoginHsmByPin(h, p.data(), 32));
  }
  if (&c == &d::SetHsmLabel) return done(SWD_SetHsmLabel(h, a.p(1), a.n(1)));
  if (&c == &d::SetHsmPin) {
    Pin p = pin(1);
    return done(SWD_SetHsmPin(h, p.data(), 32));
  }
  if (&c == &d::GetHsmPolicy) {
    // The core asks with the HSM's handle (as of the software device, which
    // needs no session for it); any other handle must be an HSM session.
    ZEB_DEVICE_TOKEN_SESSION_INFO s{};
    if (h != cmd::SE_HSM_HANDLE && (rc = SWD_GetHsmSessInfo(h, &s)) != 0) return Result::err(rc);
    ZEB_DEVICE_HSM_POLICY p{};
    rc = SWD_GetHsmPolicy(hsm(), &p);
    return rc ? Result::err(rc) : ok(rec(p));
  }
  if (&c == &d::SetHsmPolicy) {
    ZEB_DEVICE_HSM_POLICY p{};
    std::memcpy(&p, a.p(1), sizeof p);
    return done(SWD_SetHsmPolicy(h, &p));
  }
  if (&c == &d::CreateToken || &c == &d::CreateDefaultToken) {
    uint8_t id[16] = {}, sn[16] = {};
    rc = &c == &d::CreateToken ? SWD_CreateToken(h, id, sn) : SWD_CreateDefaultToken(h, id, sn);
    if (rc == 0) rc = fix_token_pins(id);
    return rc ? Result::err(rc) : ok(bytes(id, 16), bytes(sn, 16));
  }
  if (&c == &d::CreateTokenByPin) {
    Pin p = pin(1);
    uint8_t id[16] = {};
    rc = SWD_CreateTokenByPin(h, p.data(), 32, id);
    if (rc == 0) rc = fix_token_pins(id);
    return rc ? Result::err(rc) : ok(bytes(id, 16));
  }
  if (&c == &d::DeleteToken) {
    uint8_t id[16];
    std::memcpy(id, a.p(1), 16);
    if ((rc = SWD_DeleteToken(h, id)) != 0) return Result::err(rc);
    std::error_code ec;
    std::filesystem::remove_all(dir() + "SeStore/" + token_dir_name(id), ec);
    return ok();
  }
  if (&c == &d::UnlockToken) return done(SWD_UnlockTokenNormalUser(h, a.p(1)));
  if (&c == &d::ResetVrk || &c == &d::ResetVrkBySn) {
    if (&c == &d::ResetVrkBySn && std::memcmp(a.p(1), sim.sn().data(), 16) != 0) return Result::err(kArguments);
    rc = &c == &d::ResetVrk ? SWD_ResetVrk(h) : SWD_ResetVrkBySn(hsm(), a.p(1));
    if (rc == 0) rc = fix_admin_pin();
    if (rc != 0) return Result::err(rc);
    pending.clear();
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir() + "SeStore", ec)) {
      std::filesystem::remove_all(e.path(), ec);
    }
    return ok();
  }
  if (&c == &d::LogoutHsm) return done(SWD_LogoutHsm(h));
  if (&c == &d::ListTokens) {
    ZEB_DEVICE_TKN_USER_LIST l{};
    rc = SWD_ListTokens(hsm(), &l);
    return rc ? Result::err(rc) : ok(rec(l));
  }
  if (&c == &d::GetTokenStatus) {
    uint8_t st = 0;
    rc = SWD_GetTokenStatus(hsm(), a.p(1), &st);
    return rc ? Result::err(rc) : ok(std::vector<uint8_t>{st});
  }
  if (&c == &d::GetTokenInfo) {
    ZEB_DEVICE_TOKEN_INFO i{};
    rc = SWD_GetTokenInfo(hsm(), a.p(1), &i);
    return rc ? Result::err(rc) : ok(rec(i));
  }
  if (&c == &d::LoginTokenByPin) {
    Pin p = pin(1);
    if ((rc = SWD_LoginTokenByPin(h, p.data(), 32)) != 0) return Result::err(rc);
    // A fresh session master key for the logged-in token user.
    if ((rc = start_crypto(h)) != 0) {
      (void)SWD_LogoutToken(h);  // undo; the key's failure is reported
      return Result::err(rc);
    }
    return ok();
  }
  if (&c == &d::LoginTokenSuperUserByPin) {
    Pin p = pin(1);
    return done(SWD_LoginTokenSuperUserByPin(h, p.data(), 32));
  }
  if (&c == &d::SetTokenLabel) return done(SWD_SetTokenLabel(h, a.p(1), a.n(1)));
  if (&c == &d::SetTokenSuperUserPin) {
    Pin p = pin(1);
    return done(SWD_SetTokenSuperUserPin(h, p.data(), 32));
  }
  if (&c == &d::SetTokenPin) {
    Pin p = pin(1);
    return done(SWD_SetTokenPin(h, p.data(), 32));
  }
  if (&c == &d::GetTokenPolicy) {
    ZEB_DEVICE_TOKEN_POLICY p{};
    rc = SWD_GetTokenPolicy(h, &p);
    return rc ? Result::err(rc) : ok(rec(p));
  }
  if (&c == &d::SetTokenPolicy) {
    ZEB_DEVICE_TOKEN_POLICY p{};
    std::memcpy(&p, a.p(1), sizeof p);
    return done(SWD_SetTokenPolicy(h, &p));
  }
  if (&c == &d::BackupToken) {
    Pin p{};
    if (!pin_from_plain(a.f[1], &p)) return Result::err(kFailed);
    std::vector<uint8_t> out(4096);
    uint32_t n = static_cast<uint32_t>(out.size());
    if ((rc = SWD_BackupToken(h, p.data(), 32, out.data(), &n)) != 0) return Result::err(rc);
    if (n > out.size()) return Result::err(kFailed);
    out.resize(n);
    return ok(std::move(out));
  }
  if (&c == &d::RestoreToken) {
    Pin p{};
    if (!pin_from_plain(a.f[1], &p)) return Result::err(kFailed);
    return done(SWD_RestoreToken(h, p.data(), 32, a.p(2), a.n(2)));
  }
  if (&c == &d::LogoutToken) {
    if ((rc = SWD_LogoutToken(h)) == 0) drop_crypto(h);
    return done(rc);
  }
  if (&c == &d::LogoutTokenSuperUser) return done(SWD_LogoutTokenSuperUser(h));
  if (&c == &d::GetTokenSn) {
    uint8_t sn[16] = {};
    rc = SWD_GetTokenSn(h, sn);
    return rc ? Result::err(rc) : ok(bytes(sn, 16));
  }
  if (&c == &d::OpenHsmSession) {
    ZEB_DEVICE_HANDLE s = 0;
    rc = SWD_OpenHsmSession(hsm(), &s);
    return rc ? Result::err(rc) : ok(le32(s));
  }
  if (&c == &d::CloseHsmSession) return done(SWD_CloseHsmSession(h));
  if (&c == &d::GetHsmSessInfo || &c == &d::GetTokenSessionInfo) {
    ZEB_DEVICE_TOKEN_SESSION_INFO i{};
    rc = &c == &d::GetHsmSessInfo ? SWD_GetHsmSessInfo(h, &i) : SWD_GetTokenSessionInfo(h, &i);
    return rc ? Result::err(rc) : ok(rec(i));
  }
  if (&c == &d::OpenTokenSession) {
    ZEB_DEVICE_HANDLE s = 0;
    rc = SWD_OpenTokenSession(hsm(), a.p(1), &s);
    return rc ? Result::err(rc) : ok(le32(s));
  }
  if (&c == &d::CloseTokenSession) {
    drop_crypto(h);
    return done(SWD_CloseTokenSession(h));
  }
  if (&c == &d::SetTknKey2Sw || &c == &d::SetSwKey2Tkn) {
    std::vector<uint8_t> out(a.n(1));
    uint32_t n = a.n(1);
    rc = &c == &d::SetTknKey2Sw ? SWD_SetTknKey2Sw(h, a.p(1), a.n(1), out.data(), &n)
                                : SWD_SetSwKey2Tkn(h, a.p(1), a.n(1), out.data(), &n);
    if (rc != 0) return Result::err(rc);
    if (n > out.size()) return Result::err(kFailed);
    out.resize(n);
    return ok(std::move(out));
  }
  return Result::err(kNotSupported);
}

}  // namespace se::sim
