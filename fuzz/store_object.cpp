// An object file (N.obj) as the store finds it, read through the store and
// the device's blob layer: size, read, MAC check, meta record and data. The
// first byte tells whether the harness gives the blob its right MAC (under
// the token's key), so that what lies behind the check is reached too.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "swhsm/sto.h"
#include "swhsm/swd.h"
#include "swhsm/swd_blob.h"

namespace {

constexpr char kHsmSn[] = "HSM0000000000042";
constexpr char kAdminPin[] = "admin-pin-1234";

uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }

struct Token {
  ZEB_DEVICE_HANDLE user = 0;
  PERSISTENCY_INPUT in{};
  std::string dir;
  uint8_t mac_key[32] = {};
};

// A software HSM with one token whose user is logged in, and its store.
Token make_token() {
  const std::string admin = std::string("Pin=") + kAdminPin + "\nPinLen=" + std::to_string(std::strlen(kAdminPin)) +
                            "\nSn=" + kHsmSn + "\nLabel=fuzz\nLabelLen=4\nFwVer=1.0.0\nFwVerLen=5\nType=1\n" +
                            "Status=3\nCurrTknCount=0\nMaxTknCount=4\nCurrLoginFail=0\nMaxLoginFail=10\n";
  if (::mkdir("./SwHsm", 0700) != 0) fz::fail("no SwHsm folder");
  fz::write_file("./SwHsm/HsmAdmin.cfg", reinterpret_cast<const uint8_t*>(admin.data()), admin.size());
  ZEB_DEVICE_HANDLE hsm = 0, a = 0;
  uint8_t id[16] = {};
  Token t;
  if (SWD_Initialize(u8(kHsmSn), &hsm) != 0 || SWD_OpenHsmSession(hsm, &a) != 0 ||
      SWD_LoginHsmByPin(a, u8(kAdminPin), std::strlen(kAdminPin)) != 0 ||
      SWD_CreateTokenByPin(a, u8("123456"), 6, id) != 0 || SWD_CloseHsmSession(a) != 0 ||
      SWD_OpenTokenSession(hsm, id, &t.user) != 0 || SWD_LoginTokenByPin(t.user, u8("123456"), 6) != 0 ||
      GetTknMacKey(t.user, t.mac_key) != 0) {
    fz::fail("no token");
  }
  STO_TKN_OBJECT_CONFIG_PATH root{};
  std::memcpy(t.in.HsmSn, kHsmSn, 16);
  std::memcpy(t.in.TknId, id, 16);
  if (Sto_Initialize(&root) != STO_OK || Sto_CreateTokenStorage(&t.in) != STO_OK) fz::fail("no store");
  t.dir = std::string("./Store/") + kHsmSn + "/" + reinterpret_cast<const char*>(id);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  fz::enter_work_dir();
  static Token t = make_token();
  fz::Input input(data, size);
  const bool sign = input.byte() & 1;
  std::vector<uint8_t> blob(input.data(), input.data() + input.size());
  if (sign && blob.size() >= SWD_BLOB_OVERHEAD) {
    const auto body = static_cast<uint32_t>(blob.size() - SWD_BLOB_MAC_LEN);
    if (CalulateMac(t.mac_key, blob.data(), body, blob.data() + body) != 0) fz::fail("no MAC");
  }
  fz::write_file((t.dir + "/7.obj").c_str(), blob.data(), blob.size());

  uint32_t len = 0;
  if (Sto_GetObjectSize(&t.in, 7, &len) != STO_OK) return 0;
  if (len != blob.size()) fz::fail("object size differs from the file");
  std::vector<uint8_t> object(len + 1);
  if (Sto_GetObject(&t.in, 7, object.data(), &len) != STO_OK) return 0;
  if (len != blob.size() || (len != 0 && std::memcmp(object.data(), blob.data(), len) != 0)) {
    fz::fail("object read otherwise");
  }

  const uint32_t checked = SWD_CheckObjMAC(t.user, object.data(), len);
  if (sign && blob.size() >= SWD_BLOB_OVERHEAD && checked != 0) fz::fail("a right MAC is refused");
  ZEB_DEVICE_OBJECT_META meta{};
  (void)SWD_GetObjMetaPtr(t.user, object.data(), len, &meta);
  std::vector<uint8_t> context(len + 1);
  uint32_t context_len = 0;
  if (SWD_DivideObj(t.user, object.data(), len, &meta, context.data(), &context_len) == 0 &&
      context_len != len - SWD_BLOB_OVERHEAD) {
    fz::fail("context length is not the blob's less its overhead");
  }
  (void)SWD_UpdateObjectMeta(t.user, object.data(), len, &meta);
  return 0;
}
