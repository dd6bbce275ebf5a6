// The middleware's command runner over the command channel.
#include "mw/mw_call.h"

#include <array>

namespace se::mw {

namespace {

constexpr size_t kMaxFields = 8;
constexpr uint32_t kU16Max = 0xFFFF;

}  // namespace

std::recursive_mutex& channel_lock() {
  static std::recursive_mutex m;
  return m;
}

uint32_t call(const SeSite& where, const cmd::Command& c, std::initializer_list<In> in,
              std::initializer_list<Out> out, uint32_t bad_args) {
  // A list that does not match its row is a mistake of this middleware.
  if (in.size() != c.request.size() || out.size() != c.reply.size() || in.size() > kMaxFields ||
      out.size() > kMaxFields) {
    se_log_failure(bad_args, where);
    return bad_args;
  }
  std::array<ZEB_TLV, kMaxFields> req{};
  size_t i = 0;
  for (const In& v : in) {
    const cmd::Field& f = c.request[i];
    uint32_t len = f.width;
    if (f.kind == cmd::Kind::array) {
      len = v.len;
      // Lengths are 32-bit here and 16-bit on the wire: what the count
      // cannot carry does not fit the request either.
      if (len > kU16Max) {
        se_log_failure(SE_ERR_SERIALIZER, where);
        return SE_ERR_SERIALIZER;
      }
    }
    if (v.p == nullptr && len != 0) return bad_args;
    req[i++] = ZEB_TLV{f.tag, static_cast<uint16_t>(len), const_cast<void*>(v.p)};
  }
  std::array<ZEB_TLV, kMaxFields> rsp{};
  i = 0;
  for (const Out& o : out) {
    const cmd::Field& f = c.reply[i];
    const uint32_t room = f.kind == cmd::Kind::array ? (o.cap > kU16Max ? kU16Max : o.cap) : f.width;
    if (o.p == nullptr && room != 0) return bad_args;
    rsp[i++] = ZEB_TLV{f.tag, static_cast<uint16_t>(room), o.p};
  }
  std::lock_guard lock(channel_lock());
  const SeTagSet set = c.cla == cmd::CLA_STORE ? SeTagSet::store : SeTagSet::general;
  const uint32_t rv = se_mw_command(where, c.cla, c.ins, req.data(), static_cast<uint8_t>(in.size()), rsp.data(),
                                    static_cast<uint8_t>(out.size()), set);
  if (rv != 0) return rv;
  i = 0;
  for (const Out& o : out) {
    if (c.reply[i].kind == cmd::Kind::array && o.len != nullptr) *o.len = rsp[i].length;
    ++i;
  }
  return 0;
}

}  // namespace se::mw
