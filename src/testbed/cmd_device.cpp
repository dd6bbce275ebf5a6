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

namespace d = cmd::dev;
using Impl = Simulator::Impl;

// A device command: its row, its fields, and its first field's handle.
struct Call {
  const cmd::Command& c;
  const Args& a;
  uint32_t h;
  Pin pin(size_t i) const { return pin_from_digest(a.f[i]); }
};

Result get_version(Impl& s, const Call&) {
  ZEB_DEVICE_VERSION v{};
  const uint32_t rc = SWD_GetVersion(s.hsm(), &v);
  return rc ? Result::err(rc) : ok(rec(v));
}

Result get_hsm_info(Impl& s, const Call&) {
  ZEB_DEVICE_HSM_INFO i{};
  const uint32_t rc = SWD_GetHsmInfo(s.hsm(), &i);
  return rc ? Result::err(rc) : ok(rec(i));
}

Result login_hsm(Impl&, const Call& x) {
  Pin p = x.pin(1);
  return done(SWD_LoginHsmByPin(x.h, p.data(), 32));
}

Result set_hsm_label(Impl&, const Call& x) { return done(SWD_SetHsmLabel(x.h, x.a.p(1), x.a.n(1))); }

Result set_hsm_pin(Impl&, const Call& x) {
  Pin p = x.pin(1);
  return done(SWD_SetHsmPin(x.h, p.data(), 32));
}

// The core asks with the HSM's handle (as of the software device, which needs
// no session for it); any other handle must be an HSM session.
Result get_hsm_policy(Impl& s, const Call& x) {
  ZEB_DEVICE_TOKEN_SESSION_INFO i{};
  uint32_t rc = 0;
  if (x.h != cmd::SE_HSM_HANDLE && (rc = SWD_GetHsmSessInfo(x.h, &i)) != 0) return Result::err(rc);
  ZEB_DEVICE_HSM_POLICY p{};
  rc = SWD_GetHsmPolicy(s.hsm(), &p);
  return rc ? Result::err(rc) : ok(rec(p));
}

Result set_hsm_policy(Impl&, const Call& x) {
  ZEB_DEVICE_HSM_POLICY p{};
  std::memcpy(&p, x.a.p(1), sizeof p);
  return done(SWD_SetHsmPolicy(x.h, &p));
}

Result create_token(Impl&, const Call& x) {
  uint8_t id[16] = {}, sn[16] = {};
  uint32_t rc = &x.c == &d::CreateToken ? SWD_CreateToken(x.h, id, sn) : SWD_CreateDefaultToken(x.h, id, sn);
  if (rc == 0) rc = fix_token_pins(id);
  return rc ? Result::err(rc) : ok(bytes(id, 16), bytes(sn, 16));
}

Result create_token_by_pin(Impl&, const Call& x) {
  Pin p = x.pin(1);
  uint8_t id[16] = {};
  uint32_t rc = SWD_CreateTokenByPin(x.h, p.data(), 32, id);
  if (rc == 0) rc = fix_token_pins(id);
  return rc ? Result::err(rc) : ok(bytes(id, 16));
}

Result delete_token(Impl& s, const Call& x) {
  uint8_t id[16];
  std::memcpy(id, x.a.p(1), 16);
  if (const uint32_t rc = SWD_DeleteToken(x.h, id); rc != 0) return Result::err(rc);
  std::error_code ec;
  std::filesystem::remove_all(s.dir() + "SeStore/" + token_dir_name(id), ec);
  return ok();
}

Result unlock_token(Impl&, const Call& x) { return done(SWD_UnlockTokenNormalUser(x.h, x.a.p(1))); }

Result reset(Impl& s, const Call& x) {
  const bool by_sn = &x.c == &d::ResetVrkBySn;
  if (by_sn && std::memcmp(x.a.p(1), s.sim.sn().data(), 16) != 0) return Result::err(kArguments);
  uint32_t rc = by_sn ? SWD_ResetVrkBySn(s.hsm(), x.a.p(1)) : SWD_ResetVrk(x.h);
  if (rc == 0) rc = fix_admin_pin();
  if (rc != 0) return Result::err(rc);
  s.pending.clear();
  s.held.clear();
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(s.dir() + "SeStore", ec)) {
    std::filesystem::remove_all(e.path(), ec);
  }
  return ok();
}

Result logout_hsm(Impl&, const Call& x) { return done(SWD_LogoutHsm(x.h)); }

Result list_tokens(Impl& s, const Call&) {
  ZEB_DEVICE_TKN_USER_LIST l{};
  const uint32_t rc = SWD_ListTokens(s.hsm(), &l);
  return rc ? Result::err(rc) : ok(rec(l));
}

Result get_token_status(Impl& s, const Call& x) {
  uint8_t st = 0;
  const uint32_t rc = SWD_GetTokenStatus(s.hsm(), x.a.p(1), &st);
  return rc ? Result::err(rc) : ok(std::vector<uint8_t>{st});
}

Result get_token_info(Impl& s, const Call& x) {
  ZEB_DEVICE_TOKEN_INFO i{};
  const uint32_t rc = SWD_GetTokenInfo(s.hsm(), x.a.p(1), &i);
  return rc ? Result::err(rc) : ok(rec(i));
}

Result login_token(Impl& s, const Call& x) {
  Pin p = x.pin(1);
  if (const uint32_t rc = SWD_LoginTokenByPin(x.h, p.data(), 32); rc != 0) return Result::err(rc);
  // A fresh session master key for the logged-in token user.
  if (const uint32_t rc = s.start_crypto(x.h); rc != 0) {
    (void)SWD_LogoutToken(x.h);  // undo; the key's failure is reported
    return Result::err(rc);
  }
  return ok();
}

Result login_token_su(Impl&, const Call& x) {
  Pin p = x.pin(1);
  return done(SWD_LoginTokenSuperUserByPin(x.h, p.data(), 32));
}

Result set_token_label(Impl&, const Call& x) { return done(SWD_SetTokenLabel(x.h, x.a.p(1), x.a.n(1))); }

Result set_token_su_pin(Impl&, const Call& x) {
  Pin p = x.pin(1);
  return done(SWD_SetTokenSuperUserPin(x.h, p.data(), 32));
}

Result set_token_pin(Impl&, const Call& x) {
  Pin p = x.pin(1);
  return done(SWD_SetTokenPin(x.h, p.data(), 32));
}

Result get_token_policy(Impl&, const Call& x) {
  ZEB_DEVICE_TOKEN_POLICY p{};
  const uint32_t rc = SWD_GetTokenPolicy(x.h, &p);
  return rc ? Result::err(rc) : ok(rec(p));
}

Result set_token_policy(Impl&, const Call& x) {
  ZEB_DEVICE_TOKEN_POLICY p{};
  std::memcpy(&p, x.a.p(1), sizeof p);
  return done(SWD_SetTokenPolicy(x.h, &p));
}

Result backup_token(Impl&, const Call& x) {
  Pin p{};
  if (!pin_from_plain(x.a.f[1], &p)) return Result::err(kFailed);
  std::vector<uint8_t> out(4096);
  uint32_t n = static_cast<uint32_t>(out.size());
  if (const uint32_t rc = SWD_BackupToken(x.h, p.data(), 32, out.data(), &n); rc != 0) return Result::err(rc);
  if (n > out.size()) return Result::err(kFailed);
  out.resize(n);
  return ok(std::move(out));
}

Result restore_token(Impl&, const Call& x) {
  Pin p{};
  if (!pin_from_plain(x.a.f[1], &p)) return Result::err(kFailed);
  return done(SWD_RestoreToken(x.h, p.data(), 32, x.a.p(2), x.a.n(2)));
}

Result logout_token(Impl& s, const Call& x) {
  const uint32_t rc = SWD_LogoutToken(x.h);
  if (rc == 0) s.drop_crypto(x.h);
  return done(rc);
}

Result logout_token_su(Impl&, const Call& x) { return done(SWD_LogoutTokenSuperUser(x.h)); }

Result get_token_sn(Impl&, const Call& x) {
  uint8_t sn[16] = {};
  const uint32_t rc = SWD_GetTokenSn(x.h, sn);
  return rc ? Result::err(rc) : ok(bytes(sn, 16));
}

Result open_hsm_session(Impl& s, const Call&) {
  ZEB_DEVICE_HANDLE h = 0;
  const uint32_t rc = SWD_OpenHsmSession(s.hsm(), &h);
  if (rc != 0) return Result::err(rc);
  s.hsm_sessions.insert(h);
  return ok(le32(h));
}

Result close_hsm_session(Impl& s, const Call& x) {
  const uint32_t rc = SWD_CloseHsmSession(x.h);
  if (rc == 0) s.hsm_sessions.erase(x.h);
  return done(rc);
}

Result session_info(Impl&, const Call& x) {
  ZEB_DEVICE_TOKEN_SESSION_INFO i{};
  const uint32_t rc = &x.c == &d::GetHsmSessInfo ? SWD_GetHsmSessInfo(x.h, &i) : SWD_GetTokenSessionInfo(x.h, &i);
  return rc ? Result::err(rc) : ok(rec(i));
}

Result open_token_session(Impl& s, const Call& x) {
  ZEB_DEVICE_HANDLE h = 0;
  const uint32_t rc = SWD_OpenTokenSession(s.hsm(), x.a.p(1), &h);
  if (rc != 0) return Result::err(rc);
  s.token_sessions.insert(h);
  return ok(le32(h));
}

Result close_token_session(Impl& s, const Call& x) {
  s.drop_session(x.h);
  const uint32_t rc = SWD_CloseTokenSession(x.h);
  if (rc == 0) s.token_sessions.erase(x.h);
  return done(rc);
}

Result token_key(Impl&, const Call& x) {
  std::vector<uint8_t> out(x.a.n(1));
  uint32_t n = x.a.n(1);
  const uint32_t rc = &x.c == &d::SetTknKey2Sw ? SWD_SetTknKey2Sw(x.h, x.a.p(1), x.a.n(1), out.data(), &n)
                                               : SWD_SetSwKey2Tkn(x.h, x.a.p(1), x.a.n(1), out.data(), &n);
  if (rc != 0) return Result::err(rc);
  if (n > out.size()) return Result::err(kFailed);
  out.resize(n);
  return ok(std::move(out));
}

constexpr Route<Call> kRoutes[] = {
    {&d::GetVersion, get_version},
    {&d::GetHsmInfo, get_hsm_info},
    {&d::LoginHsmByPin, login_hsm},
    {&d::SetHsmLabel, set_hsm_label},
    {&d::SetHsmPin, set_hsm_pin},
    {&d::GetHsmPolicy, get_hsm_policy},
    {&d::SetHsmPolicy, set_hsm_policy},
    {&d::CreateToken, create_token},
    {&d::CreateDefaultToken, create_token},
    {&d::CreateTokenByPin, create_token_by_pin},
    {&d::DeleteToken, delete_token},
    {&d::UnlockToken, unlock_token},
    {&d::ResetVrk, reset},
    {&d::ResetVrkBySn, reset},
    {&d::LogoutHsm, logout_hsm},
    {&d::ListTokens, list_tokens},
    {&d::GetTokenStatus, get_token_status},
    {&d::GetTokenInfo, get_token_info},
    {&d::LoginTokenByPin, login_token},
    {&d::LoginTokenSuperUserByPin, login_token_su},
    {&d::SetTokenLabel, set_token_label},
    {&d::SetTokenSuperUserPin, set_token_su_pin},
    {&d::SetTokenPin, set_token_pin},
    {&d::GetTokenPolicy, get_token_policy},
    {&d::SetTokenPolicy, set_token_policy},
    {&d::BackupToken, backup_token},
    {&d::RestoreToken, restore_token},
    {&d::LogoutToken, logout_token},
    {&d::LogoutTokenSuperUser, logout_token_su},
    {&d::GetTokenSn, get_token_sn},
    {&d::OpenHsmSession, open_hsm_session},
    {&d::CloseHsmSession, close_hsm_session},
    {&d::GetHsmSessInfo, session_info},
    {&d::GetTokenSessionInfo, session_info},
    {&d::OpenTokenSession, open_token_session},
    {&d::CloseTokenSession, close_token_session},
    {&d::SetTknKey2Sw, token_key},
    {&d::SetSwKey2Tkn, token_key},
};

}  // namespace

Result Simulator::Impl::device(const cmd::Command& c, const Args& a) {
  const uint32_t h = c.request.empty() ? 0 : a.u32(0);
  // Commands that name the HSM carry SE_HSM_HANDLE.
  if (!c.request.empty() && std::strcmp(c.request[0].name, cmd::f::hHsm.name) == 0 && h != cmd::SE_HSM_HANDLE) {
    return Result::err(kSessionHandle);
  }
  const Route<Call>* r = route_of(kRoutes, c);
  return r == nullptr ? Result::err(kNotSupported) : r->handle(*this, Call{c, a, h});
}

}  // namespace se::sim
