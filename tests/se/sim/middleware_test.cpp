// The host middleware against the test bed over TCP: both halves of the
// command set meet (device, store and crypto classes).
#include <cstring>
#include <memory>

#include "se/channel.h"
#include "se/middleware.h"
#include "support/testbed.h"
#include "support/workdir.h"

namespace {

constexpr const char* kSn = "MW00000000000003";
constexpr const char* kAdmin = "mw-admin";
constexpr const char* kSo = "mw-so-pin";
constexpr const char* kUser = "mw-user-pin";
uint8_t* u8p(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }
uint32_t len(const char* s) { return static_cast<uint32_t>(std::strlen(s)); }

class Middleware : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<zt::WorkDir>();
    tb_ = std::make_unique<zt::Testbed>(SE_TESTBED_PATH, dir_->path() + "/state", 0,
                                        std::vector<std::string>{"--sn", kSn, "--admin-pin", kAdmin});
    ASSERT_EQ(zeb_console_client_open(&gl_device, "127.0.0.1", tb_->port()), 0);
  }
  void TearDown() override {
    zeb_console_client_close(&gl_device);
    std::memset(&gl_device, 0, sizeof gl_device);
    tb_.reset();
    dir_.reset();
  }
  std::unique_ptr<zt::WorkDir> dir_;
  std::unique_ptr<zt::Testbed> tb_;
};

TEST_F(Middleware, TokenLifeAndObjectsThroughTheMiddleware) {
  ZEB_DEVICE_HSM_INFO info{};
  ASSERT_EQ(FWD_GetHsmInfo_mw(0, &info), 0u);
  EXPECT_EQ(info.HsmType, 8u);
  EXPECT_EQ(std::memcmp(info.HsmSn, kSn, 16), 0);

  ZEB_DEVICE_HANDLE a = 0, s = 0;
  ASSERT_EQ(FWD_OpenHsmSession_mw(0, &a), 0u);
  EXPECT_NE(FWD_LoginHsmByPin_mw(a, u8p("wrong"), 5), 0u);
  ASSERT_EQ(FWD_LoginHsmByPin_mw(a, u8p(kAdmin), len(kAdmin)), 0u);
  uint8_t id[16] = {};
  ASSERT_EQ(FWD_CreateTokenByPin_mw(a, u8p(kSo), len(kSo), id), 0u);
  ASSERT_EQ(FWD_OpenTokenSession_mw(0, id, &s), 0u);
  ASSERT_EQ(FWD_LoginTokenSuperUserByPin_mw(s, u8p(kSo), len(kSo)), 0u);
  ASSERT_EQ(FWD_SetTokenPin_mw(s, u8p(kUser), len(kUser)), 0u);
  ASSERT_EQ(FWD_LogoutTokenSuperUser_mw(s), 0u);
  ASSERT_EQ(FWD_LoginTokenByPin_mw(s, u8p(kUser), len(kUser)), 0u);

  // The session key from the device wraps blobs the device reads.
  uint8_t key[32] = {};
  uint32_t n = 0;
  ASSERT_EQ(FWD_GenSwKey_mw(s, key, &n), 0u);
  EXPECT_EQ(n, 32u);

  PERSISTENCY_INPUT in{};
  in.hSession = s;
  std::memcpy(in.HsmSn, kSn, 16);
  std::memcpy(in.TknId, id, 16);
  ASSERT_EQ(FWSto_CreateTokenStorage_mw(&in), 0u);
  std::vector<uint8_t> obj(2000);
  for (size_t i = 0; i < obj.size(); ++i) obj[i] = static_cast<uint8_t>(i * 13);
  STO_SEOBJ entry{};
  entry.u32DataLen = static_cast<uint32_t>(obj.size() - 128);
  uint32_t index = 0;
  ASSERT_EQ(FWSto_CreateObject_mw(&in, &index, obj.data(), static_cast<uint32_t>(obj.size()), &entry), 0u);
  EXPECT_EQ(index, 1u);  // device slot 0
  std::vector<uint8_t> back(4096);
  uint32_t back_len = static_cast<uint32_t>(back.size());
  ASSERT_EQ(FWSto_GetObject_mw(&in, index, back.data(), &back_len), 0u);
  back.resize(back_len);
  EXPECT_EQ(back, obj);
  auto list = std::make_unique<STO_SEOBJ_LIST>();
  std::memset(list.get(), 0, sizeof *list);
  ASSERT_EQ(FWSto_LoadObjectList_mw(&in, list.get()), 0u);
  EXPECT_EQ(list->ObjNum, 1u);
  EXPECT_EQ(list->seobj_array[0].ObjIndex, 1u);
  ASSERT_EQ(FWSto_DeleteObject_mw(&in, index), 0u);
  EXPECT_NE(FWSto_GetObjectSize_mw(&in, index, &n), 0u);
  EXPECT_EQ(FWD_CloseTokenSession_mw(s), 0u);
}

}  // namespace
