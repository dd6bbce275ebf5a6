// The command channel over the scripted transport: status words, device
// codes, resends, locks, over-long and short replies, the failure dump.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "se/channel.h"
#include "se/secure_channel.h"
#include "support/hex.h"
#include "trix/transport.h"

// Printed output holds (or lacks) a piece of text.
#define EXPECT_HAS(out, text) EXPECT_NE((out).find(text), std::string::npos) << "missing: " << (text)
#define EXPECT_LACKS(out, text) EXPECT_EQ((out).find(text), std::string::npos) << "unexpected: " << (text)

namespace {

using zt::Bytes;
using zt::unhex;

class Channel : public testing::Test {
 protected:
  void SetUp() override {
    (void)sdb_init();
    dev = se_device_t{};
    script = trix::attach_scripted(&dev);
    ASSERT_NE(script, nullptr);
    se_cmd_init(&cmd, SE_CLA_DEVICE, 0x22);
    std::memcpy(gl_mw_cdata, data, sizeof data);
    cmd.inbuf = gl_mw_cdata;
    cmd.inbuf_len = sizeof data;
    cmd.host_dly = 0;
  }
  void TearDown() override { (void)trix::detach(&dev); }

  Bytes request() const {
    return trix::make_command(SE_CLA_DEVICE, 0x22, 0, 0, 0, 0, Bytes(data, data + sizeof data));
  }
  // Sends `cmd`, returning the result and the printed output.
  int send(std::string* out = nullptr) {
    testing::internal::CaptureStderr();
    const int rv = transport_normal_cmd_v2(&dev, &cmd, &rsp);
    const std::string printed = testing::internal::GetCapturedStderr();
    if (out != nullptr) *out = printed;
    return rv;
  }

  const uint8_t data[5] = {1, 2, 3, 4, 5};
  se_device_t dev{};
  trix::ScriptedTransport* script = nullptr;
  se_cmd_t cmd{};
  se_cmd_rsp_t rsp{};
};

Bytes code_reply(uint32_t code) {
  return trix::make_reply({static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
                           static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 24)},
                          SE_SW_DEVICE_CODE);
}

TEST_F(Channel, SuccessPointsAtTheReplyData) {
  script->expect(request(), trix::make_reply({0xAA, 0xBB, 0xCC}, 0x9000));
  std::string out;
  ASSERT_EQ(send(&out), 0);
  EXPECT_EQ(out, "");
  ASSERT_EQ(rsp.buf_len, 3u);
  EXPECT_EQ(rsp.buf, dev.buf + 2);
  EXPECT_EQ(zt::hex(rsp.buf, 3), "aabbcc");
  EXPECT_EQ(rsp.err_code, 0x9000);
  EXPECT_EQ(script->mismatches(), 0u);
}

TEST_F(Channel, CommandWithoutData) {
  cmd.inbuf = nullptr;
  cmd.inbuf_len = 0;
  script->expect(trix::make_command(SE_CLA_DEVICE, 0x22, 0, 0, 0, 0, {}), trix::make_reply({}, 0x9000));
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(rsp.buf_len, 0u);
  EXPECT_EQ(script->mismatches(), 0u);
}

TEST_F(Channel, StatusWords) {
  struct Case {
    uint16_t sw;
    int rv;
    const char* line;
  } cases[] = {
      {0x6601, 0x6601, "se chip err = 0x00006601"},
      {0x66FF, 0x66FF, "se chip err = 0x000066ff"},
      {0x6A82, 0x6A82, "other chip err = 0x00006a82"},
      {0x9001, 0x9001, "other chip err = 0x00009001"},
      {0x6300, 0x6300, "other chip err = 0x00006300"},
      // Only 90 00 succeeds: a zero status word carries no reply.
      {0x0000, SE_ERROR_PROTOCOL_STATUS, "other chip err = 0x00000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sw);
    script->expect(request(), trix::make_reply({0x01}, c.sw));
    rsp = se_cmd_rsp_t{};
    std::string out;
    EXPECT_EQ(send(&out), c.rv);
    EXPECT_HAS(out, c.line);
    EXPECT_HAS(out, ("se_cmd apdu size = 16")) << "failure dump";
    EXPECT_EQ(script->sent().size(), &c - cases + 1u) << "never resent";
  }
}

TEST_F(Channel, DeviceCodes) {
  // Code 0 is success, with the four code bytes as the response.
  script->expect(request(), code_reply(0));
  std::string out;
  ASSERT_EQ(send(&out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(rsp.buf, dev.buf + 2);
  EXPECT_EQ(rsp.buf_len, 4u);
  // Any other code is the result, sent once.
  script->expect(request(), code_reply(0x300A));
  EXPECT_EQ(send(&out), 0x300A);
  EXPECT_HAS(out, "error = 0x0000300a");
  EXPECT_EQ(script->sent().size(), 2u);
  // A code is read from the four bytes before the status word.
  script->expect(request(), trix::make_reply({9, 9, 0x34, 0x12, 0, 0}, SE_SW_DEVICE_CODE));
  EXPECT_EQ(send(), 0x1234);
}

// A 66 DD reply too short to hold the code is refused before anything reads it.
TEST_F(Channel, DeviceCodeShorterThanFourBytes) {
  for (const Bytes& data : {Bytes{}, Bytes{1}, Bytes{1, 2, 3}}) {
    script->expect(request(), trix::make_reply(data, SE_SW_DEVICE_CODE));
    EXPECT_EQ(send(), SE_ERROR_APDU_RESPONSE_LEN);
  }
}

TEST_F(Channel, MacFailureIsResentAtMostThreeTimes) {
  for (int i = 0; i < 3; ++i) script->expect(request(), code_reply(SE_DEVICE_MAC_FAILURE));
  std::string out;
  EXPECT_EQ(send(&out), static_cast<int>(SE_DEVICE_MAC_FAILURE));
  ASSERT_EQ(script->sent().size(), 3u);
  for (const Bytes& s : script->sent()) EXPECT_EQ(s, request()) << "the same bytes each time";
  const size_t r2 = out.find("mac fail retry: 2\n"), r1 = out.find("mac fail retry: 1\n"),
               r0 = out.find("mac fail retry: 0\n");
  ASSERT_NE(r0, std::string::npos);
  EXPECT_LT(r2, r1);
  EXPECT_LT(r1, r0);
  EXPECT_HAS(out, "error = 0x00081034");
  EXPECT_EQ(script->mismatches(), 0u);
}

TEST_F(Channel, MacFailureThenSuccess) {
  script->expect(request(), code_reply(SE_DEVICE_MAC_FAILURE));
  script->expect(request(), code_reply(SE_DEVICE_MAC_FAILURE));
  script->expect(request(), trix::make_reply({7}, 0x9000));
  std::string out;
  EXPECT_EQ(send(&out), 0);
  EXPECT_EQ(script->sent().size(), 3u);
  EXPECT_LACKS(out, "error =");
}

TEST_F(Channel, LockedTransportSendsNothing) {
  script->set_locked(SE_ERROR_USD_VC_LOCKED);
  std::string out;
  EXPECT_EQ(send(&out), SE_ERROR_USD_VC_LOCKED);
  EXPECT_TRUE(script->sent().empty());
  EXPECT_HAS(out, "se_cmd apdu size = 16");
}

TEST_F(Channel, TransportFailuresEndTheExchange) {
  script->fail_next_send(SE_CONSOLE_ERROR_WRITE_FAILED);
  script->expect(request(), trix::make_reply({}, 0x9000));
  EXPECT_EQ(send(), SE_CONSOLE_ERROR_WRITE_FAILED);
  script->expect(request(), trix::make_reply({}, 0x9000));
  script->fail_next_receive(SE_CONSOLE_ERROR_READ_FAILED);
  EXPECT_EQ(send(), SE_CONSOLE_ERROR_READ_FAILED);
}

TEST_F(Channel, ReplyCountLimits) {
  // L = 4086 is the longest accepted reply.
  script->expect(request(), trix::make_reply(Bytes(4084, 0x11), 0x9000));
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(rsp.buf_len, 4084u);
  // L = 4087: -23, and no dump.
  script->expect(request(), trix::make_reply(Bytes(4085, 0x11), 0x9000));
  std::string out;
  EXPECT_EQ(send(&out), SE_ERROR_UNEXPECTED_RESPONSE);
  EXPECT_EQ(out, "");
}

// A count that claims more bytes than arrived, or less than its own two bytes.
TEST_F(Channel, TruncatedReplies) {
  Bytes cut = trix::make_reply({1, 2, 3, 4}, 0x9000);
  cut.pop_back();
  for (const Bytes& reply : {cut, unhex("0100"), unhex("000090"), unhex("01009000")}) {
    SCOPED_TRACE(zt::hex(reply));
    script->expect(request(), reply);
    EXPECT_EQ(send(), SE_ERROR_APDU_RESPONSE_LEN);
  }
}

TEST_F(Channel, FailureDumpFormat) {
  script->expect(request(), trix::make_reply({}, 0x6A80));
  std::string out;
  ASSERT_EQ(send(&out), 0x6A80);
  const std::string expected =
      "\033[1;31m[apdu_channel,exchange_once,";  // the red line, then the dump
  EXPECT_HAS(out, expected);
  EXPECT_HAS(out, "\n\tse_cmd apdu size = 16\n\t00000000: 86 22 00 00 00 00 00 00 01 00 00 00 01 00 00 00 \n\n");
  // The command data is dumped only as far as it goes.
  EXPECT_HAS(out, "\n\tse_cmd cdata size = 5\n\t00000000: 01 02 03 04 05 \n\n");
  EXPECT_HAS(out, "error = 0x00006a80\n");
  EXPECT_HAS(out, "\n\tdev->buf size = 20\n\t00000000: 02 00 6A 80 ");
}

TEST(DebugDump, Layout) {
  const uint8_t b[17] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xFF};
  testing::internal::CaptureStderr();
  __debug_dumpbuf("x", b, 16);
  __debug_dumpbuf(nullptr, b, 17);
  __debug_dumpbuf("none", b, 0);
  __debug_dumpbuf("null", nullptr, 4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\n\tx size = 16\n\t00000000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n\n"
            "\t00000000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n\t00000010: FF \n\n");
}

TEST(ErrorNames, Table) {
  struct Case {
    int code;
    const char* name;
  } cases[] = {
      {-190, "SE_ERROR_WRONG_RECIPIENTS"}, {-176, "SE_CONSOLE_ERROR_CONNECT_SERVER"},
      {-23, "SE_ERROR_UNEXPECTED_RESPONSE"}, {-18, "SE_ERROR_UNKNOWN"}, {-17, "SE_ERROR_APDU_RESPONSE_LEN"},
      {-1, "SE_ERROR_HID_TX"}, {-191, ""}, {0, ""}, {1, ""}, {-100000, ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(libtrix_error_to_string(c.code), c.name) << c.code;
}

TEST(FailureLine, LibraryCodesByNameOthersInHex) {
  testing::internal::CaptureStderr();
  se_log_failure(static_cast<uint32_t>(-176), SE_HERE);
  se_log_failure(0x2040, SE_HERE);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_HAS(out, "\033[1;31mfailed with err = -176(SE_CONSOLE_ERROR_CONNECT_SERVER), [line ");
  EXPECT_HAS(out, "\033[1;31mfailed with err = 0x00002040, [line ");
  EXPECT_HAS(out, "channel_test.cpp");
}

// The whole middleware pattern on the current device.
class MiddlewareCommand : public testing::Test {
 protected:
  void SetUp() override {
    gl_device = se_device_t{};
    script = trix::attach_scripted(&gl_device);
    ASSERT_NE(script, nullptr);
  }
  void TearDown() override { (void)trix::detach(&gl_device); }
  trix::ScriptedTransport* script = nullptr;
};

TEST_F(MiddlewareCommand, RequestAndResponseFields) {
  uint32_t session = 0x102;
  uint8_t digest[32];
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(i);
  Bytes req = unhex("02010000" "2000");
  req.insert(req.end(), digest, digest + 32);
  script->expect(trix::make_command(SE_CLA_DEVICE, 0x22, 0, 0, 0, 0, req),
                 trix::make_reply(unhex("07000000" "0300616263"), 0x9000));
  const ZEB_TLV in[] = {se_field(TAG_UINT32_T, &session), ZEB_TLV{TAG_UINT8_T_ARR, 32, digest}};
  uint32_t h = 0;
  uint8_t label[8] = {};
  ZEB_TLV out[] = {se_field(TAG_ZEB_DEVICE_HANDLE, &h), ZEB_TLV{TAG_UINT8_T_ARR, sizeof label, label}};
  ASSERT_EQ(se_mw_command(SE_HERE, SE_CLA_DEVICE, 0x22, in, 2, out, 2), 0u);
  EXPECT_EQ(h, 7u);
  EXPECT_EQ(int{out[1].length}, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(label), 3), "abc");
  EXPECT_EQ(script->mismatches(), 0u);
}

TEST_F(MiddlewareCommand, FailuresAreLoggedAndReturned) {
  Bytes big(4084, 0);
  const ZEB_TLV in[] = {ZEB_TLV{TAG_UINT8_T_ARR, 4084, big.data()}};
  testing::internal::CaptureStderr();
  EXPECT_EQ(se_mw_command(SE_HERE, SE_CLA_DEVICE, 1, in, 1, nullptr, 0), SE_ERR_SERIALIZER);
  EXPECT_TRUE(script->sent().empty()) << "a request that does not fit is not sent";
  // A reply shorter than its fields.
  script->expect({}, trix::make_reply(unhex("0100"), 0x9000));
  uint32_t h = 0;
  ZEB_TLV out[] = {se_field(TAG_UINT32_T, &h)};
  EXPECT_EQ(se_mw_command(SE_HERE, SE_CLA_STORE, 2, nullptr, 0, out, 1, SeTagSet::store), SE_ERR_SERIALIZER);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_HAS(printed, "failed with err = 0x00002040");
}

}  // namespace
