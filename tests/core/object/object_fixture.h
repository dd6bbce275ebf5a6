// A started software HSM with one token and a logged-in user session, and
// builders for every object kind.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/integration/hsm_fixture.h"
#include "zeb/vrk_object.h"

namespace zt {

using Bytes = std::vector<uint8_t>;

struct Kind {
  const char* name;
  uint8_t type;
  uint8_t algo;
};

// One of every object kind (keys are imported raw; the others are built).
inline constexpr Kind kKinds[] = {
    {"data", VRK_OBJ_DATA, VRK_KEY_NONE},
    {"secret", VRK_OBJ_SECRETKEY, VRK_KEY_AES256},
    {"private", VRK_OBJ_PRIVATEKEY, VRK_KEY_EC_NIST256},
    {"public", VRK_OBJ_PUBLICKEY, VRK_KEY_EC_NIST256},
    {"certificate", VRK_OBJ_CERTIFICATE, VRK_KEY_NONE},
    {"p11", VRK_OBJ_P11, VRK_KEY_NONE},
};

inline Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 31);
  return b;
}

class ObjectHsm : public CoreHsm {
 protected:
  void SetUp() override {
    CoreHsm::SetUp();
    if (HasFatalFailure()) return;
    tkn = create_token();
    s = user_session(tkn);
  }

  // A token object that is not there fails with the store's own code: the
  // software store's failed read (6) or the secure element's "absent" (0x82).
  static bool absent(int rv) { return rv == 6 || rv == VRK_ERR_OBJECT_ABSENT; }

  std::string token_dir() const {
    return std::string(".//Store/") + kHsmSn + "/" + reinterpret_cast<const char*>(tkn.data()) + "/";
  }

  // An object of `kind` with this context (raw key bytes for keys).
  Bytes make(const Kind& kind, const char* id, const char* label, const Bytes& ctx, VRK_HANDLE sess = 0) {
    if (sess == 0) sess = s;
    Bytes obj(ctx.size() + 128);
    uint32_t len = static_cast<uint32_t>(obj.size());
    if (kind.type == VRK_OBJ_SECRETKEY || kind.type == VRK_OBJ_PRIVATEKEY || kind.type == VRK_OBJ_PUBLICKEY) {
      EXPECT_EQ(VRK_ImportRawKey(sess, const_cast<uint8_t*>(ctx.data()), static_cast<uint32_t>(ctx.size()),
                                 kind.algo, u8(id), u8(label), kind.type, obj.data(), &len),
                0);
    } else {
      VRK_OBJECT_META m;
      EXPECT_EQ(VRK_SetObjMeta(1, 1, tkn.data(), u8(id), u8(label), kind.type, kind.algo, ZEB_OBJ_NO_EXTENSION,
                               VRK_KEY_USAGE_ALL, static_cast<uint32_t>(ctx.size()), &m),
                0);
      EXPECT_EQ(VRK_SetObject(sess, &m, const_cast<uint8_t*>(ctx.data()), static_cast<uint32_t>(ctx.size()),
                              obj.data(), &len),
                0);
    }
    EXPECT_EQ(len, obj.size());
    return obj;
  }

  uint32_t save(Bytes obj, VRK_HANDLE sess = 0) {
    uint32_t idx = 0;
    EXPECT_EQ(VRK_SaveObject(sess == 0 ? s : sess, obj.data(), static_cast<uint32_t>(obj.size()), &idx), 0);
    return idx;
  }

  Bytes read(uint32_t idx, VRK_HANDLE sess = 0, int* rv = nullptr) {
    if (sess == 0) sess = s;
    uint32_t len = 0;
    Bytes out;
    int r = VRK_GetObjectSize(sess, idx, &len);
    if (r == 0) {
      out.resize(len);
      r = VRK_GetObject(sess, idx, out.data(), &len);
      out.resize(r == 0 ? len : 0);
    }
    if (rv != nullptr) *rv = r;
    return out;
  }

  VRK_OBJECT_META meta_of(const Bytes& obj, VRK_HANDLE sess = 0) {
    VRK_OBJECT_META m{};
    EXPECT_EQ(VRK_GetObjMetaPtr(sess == 0 ? s : sess, const_cast<uint8_t*>(obj.data()),
                                static_cast<uint32_t>(obj.size()), &m),
              0);
    return m;
  }

  Bytes context_of(const Bytes& obj, VRK_HANDLE sess = 0) {
    Bytes ctx(obj.size());
    uint32_t n = 0;
    EXPECT_EQ(VRK_GetObjCtxPtr(sess == 0 ? s : sess, const_cast<uint8_t*>(obj.data()),
                               static_cast<uint32_t>(obj.size()), ctx.data(), &n),
              0);
    ctx.resize(n);
    return ctx;
  }

  Bytes export_raw(uint32_t idx, VRK_HANDLE sess = 0) {
    Bytes key(4096);
    uint32_t n = static_cast<uint32_t>(key.size());
    EXPECT_EQ(VRK_ExportRawKey(sess == 0 ? s : sess, idx, key.data(), &n), 0);
    key.resize(n);
    return key;
  }

  std::vector<uint8_t> tkn;
  VRK_HANDLE s = 0;
};

}  // namespace zt
