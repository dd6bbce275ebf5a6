// Buffers and checks shared by the object, session-object and persistency
// calls.
#include <atomic>

#include "object_internal.h"

namespace zeb::core {

namespace seams {
std::atomic<long> object_alloc_budget{-1};
std::atomic<FreeObserver> object_free_observer{nullptr};
}  // namespace seams
namespace {
std::atomic<long>& g_alloc_budget = seams::object_alloc_budget;
std::atomic<seams::FreeObserver>& g_free_observer = seams::object_free_observer;
}  // namespace

void* object_alloc(size_t n) noexcept {
  long budget = g_alloc_budget.load();
  while (budget >= 0) {
    if (budget == 0) return nullptr;
    if (g_alloc_budget.compare_exchange_weak(budget, budget - 1)) break;
  }
  return std::malloc(n == 0 ? 1 : n);
}

void free_wiped(void* p, size_t n) noexcept {
  if (p == nullptr) return;
  quarzel::secure_wipe(p, n);
  if (seams::FreeObserver fn = g_free_observer.load(); fn != nullptr) fn(p, n);
  std::free(p);
}

bool ObjBuf::reset(size_t n) {
  release();
  if (n > kMaxObjectLen) return false;
  auto* p = static_cast<uint8_t*>(object_alloc(n));
  if (p == nullptr) return false;
  std::memset(p, 0, n == 0 ? 1 : n);
  p_ = p;
  n_ = n == 0 ? 1 : n;
  return true;
}

void ObjBuf::release() noexcept {
  free_wiped(p_, n_);
  p_ = nullptr;
  n_ = 0;
}

uint32_t user_session(const SessionRef& held, VRK_SESSION_CTX** ctx) noexcept {
  VRK_SESSION_CTX* c = held.get();
  if (c == nullptr) return VRK_ERR_SESSION_HANDLE;
  if (c->SessStatus != VRK_SESS_TOKENUSER_LOGIN) return VRK_ERR_USER_NOT_LOGGED_IN;
  *ctx = c;
  return VRK_OK;
}

PERSISTENCY_INPUT sto_input(const VRK_SESSION_CTX& ctx) noexcept {
  PERSISTENCY_INPUT in;
  SwStore_SetStoInput(ctx.hSe, ctx.HsmSn, ctx.TknId, &in);
  return in;
}

void copy_field(uint8_t* dst, const uint8_t* src, size_t width) noexcept {
  std::memset(dst, 0, width);
  if (src == nullptr) return;
  size_t n = 0;
  while (n < width && src[n] != 0) ++n;
  std::memcpy(dst, src, n);
}

}  // namespace zeb::core
