// The secure channel: the session table, packet protection checked against
// an OpenSSL model of the device, and the refusal of every malformed packet.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "card_side.h"
#include "se/channel.h"
#include "se/secure_channel.h"
#include "support/hex.h"

namespace {

using sct::Bytes;
using zt::unhex;

constexpr uint32_t kHandle = 0x11223344;

TEST(SessionTable, ClaimFreeAndLimits) {
  ASSERT_EQ(sdb_init(), 0u);
  for (uint32_t i = 0; i < SDB_SESSIONS; ++i) EXPECT_EQ(sdb_fill_sess_handle_and_appid(100 + i, 0x44434241), 0u);
  EXPECT_EQ(sdb_fill_sess_handle_and_appid(200, 0), SDB_ERR_NO_FREE_SLOT);
  EXPECT_EQ(sdb_get_unused_session(nullptr), SDB_ERR_NO_FREE_SLOT);
  // A second claim of a handle is refused even with a free slot before it.
  ASSERT_EQ(sdb_release_sess(100), 0u);
  EXPECT_EQ(sdb_fill_sess_handle_and_appid(103, 0), SDB_ERR_HANDLE_IN_USE);
  EXPECT_EQ(sdb_release_sess(100), SDB_ERR_NO_SESSION) << "double free";
  const session_ctx_t* s = sdb_sess_hdle_to_sess(101);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(zt::hex(s->app_id, 4), "41424344");
  EXPECT_EQ(s->cipher_suite, SC_PIV_CS2);
  EXPECT_EQ(s->state, 0x20);
  ASSERT_EQ(sdb_init(), 0u);
  EXPECT_EQ(sdb_check_session_exist(101), SDB_ERR_NO_SESSION);
}

// The free-slot marker is never a session's handle.
TEST(SessionTable, FreeMarkerIsNoHandle) {
  ASSERT_EQ(sdb_init(), 0u);
  EXPECT_EQ(sdb_fill_sess_handle_and_appid(SDB_FREE_HANDLE, 0), SDB_ERR_HANDLE_IN_USE);
  EXPECT_EQ(sdb_check_session_exist(SDB_FREE_HANDLE), SDB_ERR_NO_SESSION);
  EXPECT_EQ(sdb_sess_hdle_to_sess(SDB_FREE_HANDLE), nullptr);
  const uint8_t key[16] = {1};
  EXPECT_EQ(sdb_set_enckey(SDB_FREE_HANDLE, 16, key), SDB_ERR_NO_SESSION);
  EXPECT_EQ(sdb_release_sess(SDB_FREE_HANDLE), SDB_ERR_NO_SESSION);
  EXPECT_EQ(sdb_get_unused_session(nullptr), 0u) << "all slots still free";
}

TEST(SessionTable, FieldsAndKeys) {
  ASSERT_EQ(sdb_init(), 0u);
  ASSERT_EQ(sdb_fill_sess_handle_and_appid(kHandle, 0), 0u);
  uint8_t key[65];
  for (int i = 0; i < 65; ++i) key[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(sdb_set_enckey(kHandle, 16, key), 0u);
  EXPECT_EQ(sdb_set_enckey(kHandle, 65, key + 1), SDB_ERR_KEY_LEN);
  EXPECT_EQ(sdb_set_mackey(kHandle, 65, key), SDB_ERR_KEY_LEN);
  const session_ctx_t* s = sdb_sess_hdle_to_sess(kHandle);
  EXPECT_EQ(s->enckey[0], 1) << "unchanged by the refused key";
  EXPECT_EQ(sdb_set_mackey(kHandle, 64, key), 0u);
  EXPECT_EQ(s->mackey.CS2.rsp_mackey[0], 17);
  uint8_t v = 0;
  EXPECT_EQ(sdb_set_state(kHandle, 0xF3), 0u);
  EXPECT_EQ(sdb_get_state(kHandle, &v), 0u);
  EXPECT_EQ(v, 0x23);
  EXPECT_EQ(sdb_set_pkt_num(kHandle, 9), 0u);
  EXPECT_EQ(sdb_get_pktnum(kHandle, &v), 0u);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(sdb_set_cipher_suite(kHandle, SC_PIV_CS7), 0u);
  EXPECT_EQ(sdb_get_cipher_suite(kHandle, &v), 0u);
  EXPECT_EQ(v, SC_PIV_CS7);
  for (auto* get : {sdb_get_state, sdb_get_pktnum, sdb_get_cipher_suite}) EXPECT_EQ(get(7, &v), SDB_ERR_NO_SESSION);
  for (auto* set : {sdb_set_state, sdb_set_pkt_num, sdb_set_cipher_suite}) EXPECT_EQ(set(7, 1), SDB_ERR_NO_SESSION);
  // The last-access stamp: the host's current time, 1970-01-01 00:00:00.
  testing::internal::CaptureStderr();
  EXPECT_EQ(sdb_refresh_sess_time(kHandle), TIME_SUCCESS);
  (void)testing::internal::GetCapturedStderr();
  EXPECT_EQ(zt::hex(reinterpret_cast<const uint8_t*>(&s->last_acc_time), 8), "b207010100000000");
  EXPECT_EQ(sdb_open_session(0, nullptr), SDB_ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(sdb_close_session(kHandle), 0u);
}

TEST(Counter, Increment) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"80000000000000000000000000000000", "80000000000000000000000000000001"},
      {"800000000000000000000000000000ff", "80000000000000000000000000000100"},
      {"80ffffffffffffffffffffffffffffff", "80000000000000000000000000000000"},
      {"7f00ffffffffffffffffffffffffffff", "7f010000000000000000000000000000"},
  };
  for (const Case& c : cases) {
    Bytes b = unhex(c.in);
    increment_uint8_array(b.data(), b.size());
    EXPECT_EQ(zt::hex(b), c.out);
  }
  uint8_t one = 0xFF;
  increment_uint8_array(&one, 1);
  EXPECT_EQ(one, 0xFF);
}

TEST(Hooks, ClassRangesAndReplyForm) {
  EXPECT_FALSE(is_cla_secure_channel_cmd(0x90));
  EXPECT_TRUE(is_cla_secure_channel_cmd(0x91));
  EXPECT_TRUE(is_cla_secure_channel_cmd(0xEF));
  EXPECT_FALSE(is_cla_secure_channel_cmd(0xF0));
  EXPECT_FALSE(is_cla_secure_channel_cmd(0x86));
  EXPECT_FALSE(is_secure_channel_rsp(18, 0));
  EXPECT_TRUE(is_secure_channel_rsp(19, 0));
  EXPECT_TRUE(is_secure_channel_rsp(0, 1));
  EXPECT_EQ(get_sess_hdle(unhex("44332211").data()), kHandle);
  EXPECT_EQ(get_enc_text_length(20), 12u);
  EXPECT_EQ(get_enc_text_length(3), 0u);
}

// A session set up on both sides with the same keys, as the PIV set-up leaves it.
class Secure : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sdb_init(), 0u);
    for (int i = 0; i < 16; ++i) {
      card.keys.enc[i] = static_cast<uint8_t>(0x10 + i);
      card.keys.cmd_mac[i] = static_cast<uint8_t>(0x40 + i);
      card.keys.rsp_mac[i] = static_cast<uint8_t>(0x70 + i);
    }
    ASSERT_EQ(sdb_fill_sess_handle_and_appid(kHandle, 0x50504144), 0u);
    ASSERT_EQ(sdb_set_enckey(kHandle, 16, card.keys.enc), 0u);
    uint8_t mac[32];
    std::memcpy(mac, card.keys.cmd_mac, 16);
    std::memcpy(mac + 16, card.keys.rsp_mac, 16);
    ASSERT_EQ(sdb_set_mackey(kHandle, 32, mac), 0u);
    ASSERT_EQ(sdb_increment_counter(kHandle), 0u);
    sct::increment(card.counter);
    dev = se_device_t{};
    auto t = std::make_unique<sct::CardTransport>(&card);
    transport = t.get();
    ASSERT_EQ(trix::attach(&dev, std::move(t)), 0);
  }
  void TearDown() override { (void)trix::detach(&dev); }

  // Builds a command of class `cla` whose data is the handle and `payload`.
  void build(uint8_t cla, const Bytes& payload) {
    se_cmd_init(&cmd, cla, 0x31);
    cmd.host_dly = 0;
    const uint32_t h = kHandle;
    std::memcpy(gl_mw_cdata, &h, 4);
    if (!payload.empty()) std::memcpy(gl_mw_cdata + 4, payload.data(), payload.size());
    cmd.inbuf = gl_mw_cdata;
    cmd.inbuf_len = 4 + payload.size();
  }
  int send(std::string* printed = nullptr) {
    rsp = se_cmd_rsp_t{};
    testing::internal::CaptureStderr();
    const int rv = transport_normal_cmd_v2(&dev, &cmd, &rsp);
    const std::string out = testing::internal::GetCapturedStderr();
    if (printed != nullptr) *printed = out;
    return rv;
  }
  const session_ctx_t* slot() const { return sdb_sess_hdle_to_sess(kHandle); }

  sct::CardSide card;
  sct::CardTransport* transport = nullptr;
  se_device_t dev{};
  se_cmd_t cmd{};
  se_cmd_rsp_t rsp{};
};

TEST_F(Secure, FirstIvIsTheCounterEncrypted) {
  ASSERT_EQ(sdb_release_sess(kHandle), 0u);
  ASSERT_EQ(sdb_fill_sess_handle_and_appid(kHandle, 0), 0u);
  ASSERT_EQ(sdb_set_enckey(kHandle, 16, card.keys.enc), 0u);
  EXPECT_EQ(zt::hex(slot()->counter, 16), "80000000000000000000000000000000");
  ASSERT_EQ(sdb_update_iv_by_counter(kHandle), 0u);
  Bytes counter = unhex("80000000000000000000000000000000");
  EXPECT_EQ(zt::hex(slot()->iv, 16), zt::hex(sct::aes128(card.keys.enc, nullptr, counter, true)));
  uint8_t block[16] = {};
  uint16_t n = 0;
  ASSERT_EQ(sdb_enc_payload(kHandle, 16, block, &n, block), 0u);
  EXPECT_EQ(zt::hex(slot()->counter, 16), "80000000000000000000000000000001");
  EXPECT_EQ(slot()->pkt_number, 1);
}

// The protected form, byte for byte, against the device model.
TEST_F(Secure, ProtectedCommandLayout) {
  struct Case {
    size_t payload;
    size_t protected_len;
  } cases[] = {{20, 52}, {16, 52}, {0, 36}, {15, 36}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    Bytes payload(c.payload);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 3);
    build(0xA0, payload);
    const uint8_t pkt_before = slot()->pkt_number;
    ASSERT_EQ(secure_ch_encrypt(&cmd), 0u);
    EXPECT_EQ(cmd.inbuf_len, c.protected_len);
    EXPECT_EQ(cmd.apdu.lc, c.protected_len);
    EXPECT_EQ(cmd.apdu.p2, static_cast<uint8_t>(pkt_before + 1));
    EXPECT_EQ(zt::hex(gl_mw_cdata, 4), "44332211") << "the handle goes in clear";
    size_t len = 0;
    uint8_t raw[128];
    ASSERT_EQ(apdu_construct_input(&cmd, raw, sizeof raw, &len), 0);
    EXPECT_EQ(card.open_command(Bytes(raw, raw + len)), payload);
    EXPECT_EQ(zt::hex(slot()->checksum, 16), zt::hex(card.chain));
  }
}

// Command out, reply back, for every class of the range.
TEST_F(Secure, RoundTripEveryClass) {
  transport->answer = [](const Bytes& p) {
    Bytes r(p.rbegin(), p.rend());
    r.push_back(0xEE);
    return r;
  };
  for (int cla = 0x91; cla <= 0xEF; ++cla) {
    SCOPED_TRACE(cla);
    const Bytes payload(static_cast<size_t>(cla % 40), static_cast<uint8_t>(cla));
    build(static_cast<uint8_t>(cla), payload);
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(transport->last_plain, payload);
    Bytes want(payload.rbegin(), payload.rend());
    want.push_back(0xEE);
    ASSERT_EQ(rsp.buf_len, want.size());
    EXPECT_EQ(Bytes(rsp.buf, rsp.buf + rsp.buf_len), want);
  }
  EXPECT_EQ(zt::hex(slot()->counter, 16), zt::hex(card.counter));
}

TEST_F(Secure, PlainClassesAreNotProtected) {
  transport->protect = false;
  for (uint8_t cla : {uint8_t{0x90}, uint8_t{0xF0}}) {
    build(cla, {1, 2, 3});
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(transport->last_plain, (Bytes{0x44, 0x33, 0x22, 0x11, 1, 2, 3}));
  }
}

TEST_F(Secure, TamperedRepliesAreRefused) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> tamper;
  } cases[] = {
      {"MAC", [](Bytes& r) { r.back() ^= 1; }},
      {"ciphertext", [](Bytes& r) { r[2] ^= 0x80; }},
      {"status word", [](Bytes& r) { r[r.size() - 18] ^= 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes chain_before(slot()->checksum, slot()->checksum + 16);
    transport->tamper = c.tamper;
    build(0x91, {1, 2, 3});
    std::string out;
    EXPECT_EQ(send(&out), static_cast<int>(SDB_ERR_MAC));
    EXPECT_NE(out.find("error = 0x00002034"), std::string::npos);
    // The chain moved with the command only: the refused reply left it.
    EXPECT_NE(zt::hex(slot()->checksum, 16), zt::hex(chain_before));
    EXPECT_EQ(zt::hex(slot()->checksum, 16), zt::hex(transport->raw_commands.back().data() +
                                                         transport->raw_commands.back().size() - 16, 16));
    // Resynchronise the model (its chain took the refused reply's MAC).
    card.chain.assign(slot()->checksum, slot()->checksum + 16);
    card.counter.assign(slot()->counter, slot()->counter + 16);
  }
  transport->tamper = nullptr;
  build(0x91, {9});
  EXPECT_EQ(send(), 0) << "the next good reply checks against the last good MAC";
}

// A reply of an earlier packet (made under an earlier counter and chain
// value) is refused: the chain binds each reply to the command before it.
TEST_F(Secure, ReplyOfAnEarlierCounterIsRefused) {
  Bytes first;
  transport->tamper = [&](Bytes& r) { first = r; };
  build(0x91, {1});
  ASSERT_EQ(send(), 0);
  transport->tamper = [&](Bytes& r) { r = first; };
  build(0x91, {1});
  EXPECT_EQ(send(), static_cast<int>(SDB_ERR_MAC));
}

// Lengths are tested before the MAC check reads by them.
TEST_F(Secure, MalformedReplyLengths) {
  struct Case {
    const char* what;
    size_t L;
    size_t count;
  } cases[] = {
      {"count beyond the bytes received", 52, 40},
      {"count beyond the channel's limit", 5000, 8192},
      {"payload not whole blocks", 19 + 15, 36},
      {"no payload block", 18 + 16 - 16, 36},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes buf(8192, 0);
    buf[0] = static_cast<uint8_t>(c.L);
    buf[1] = static_cast<uint8_t>(c.L >> 8);
    const uint32_t h = kHandle;
    const Bytes chain(slot()->checksum, slot()->checksum + 16);
    EXPECT_EQ(secure_ch_decrypt(&h, buf.data(), c.count), SDB_ERR_MAC);
    EXPECT_EQ(Bytes(slot()->checksum, slot()->checksum + 16), chain);
  }
  // Through the channel an over-long count is -23, before any MAC work.
  transport->tamper = [](Bytes& r) {
    r.resize(4100);
    r[0] = 0x01;
    r[1] = 0x10;  // L = 4097
  };
  build(0x91, {1});
  EXPECT_EQ(send(), SE_ERROR_UNEXPECTED_RESPONSE);
}

// A protected command never succeeds on a reply in clear; errors may come so.
TEST_F(Secure, ClearRepliesToProtectedCommands) {
  struct Case {
    Bytes reply;
    int rv;
  } cases[] = {
      {trix::make_reply({}, 0x9000), static_cast<int>(SDB_ERR_MAC)},
      {trix::make_reply({0, 0, 0, 0}, SE_SW_DEVICE_CODE), static_cast<int>(SDB_ERR_MAC)},
      {trix::make_reply({0x0A, 0x30, 0, 0}, SE_SW_DEVICE_CODE), 0x300A},
      {trix::make_reply({}, 0x6A82), 0x6A82},
  };
  for (const Case& c : cases) {
    transport->tamper = [&](Bytes& r) { r = c.reply; };
    build(0x91, {1});
    EXPECT_EQ(send(), c.rv) << zt::hex(c.reply);
    // The model protected a reply the host never saw: bring it back in step.
    card.chain.assign(slot()->checksum, slot()->checksum + 16);
    card.counter.assign(slot()->counter, slot()->counter + 16);
  }
}

TEST_F(Secure, CommandBounds) {
  // Under 4 bytes there is no handle to read.
  build(0x91, {});
  cmd.inbuf_len = 3;
  EXPECT_EQ(secure_ch_encrypt(&cmd), SDB_ERR_NO_SESSION);
  // Padding and MAC must fit the request buffer: 4 + 4064 + 16 = 4084 does,
  // 4 + 4080 + 16 = 4100 does not.
  build(0x91, Bytes(4063, 0x33));
  EXPECT_EQ(secure_ch_encrypt(&cmd), 0u);
  EXPECT_EQ(cmd.inbuf_len, 4084u);
  build(0x91, Bytes(4064, 0x33));
  const uint8_t pkt = slot()->pkt_number;
  EXPECT_EQ(secure_ch_encrypt(&cmd), SE_ERR_SERIALIZER);
  EXPECT_EQ(slot()->pkt_number, pkt) << "nothing done";
  // Unknown session: nothing is sent.
  build(0x91, {1});
  gl_mw_cdata[0] ^= 1;
  std::string out;
  EXPECT_EQ(send(&out), static_cast<int>(SDB_ERR_NO_SESSION));
  EXPECT_TRUE(transport->raw_commands.empty());
}

TEST_F(Secure, MacLengthsOutOfRange) {
  uint8_t mac[32] = {};
  const uint8_t data[8] = {};
  for (uint16_t len : {uint16_t{0}, uint16_t{17}, uint16_t{32}}) {
    EXPECT_EQ(sdb_mac_packet(kHandle, 8, data, len, mac), SDB_ERR_MAC) << len;
    EXPECT_EQ(sdb_verify_mac(kHandle, 8, data, len, mac), SDB_ERR_MAC) << len;
  }
  EXPECT_EQ(sdb_mac_packet(kHandle, 8, data, 16, mac), 0u);
  EXPECT_EQ(zt::hex(mac, 16), zt::hex(sct::hmac16(card.keys.cmd_mac, Bytes(16, 0), Bytes(8, 0))));
  EXPECT_EQ(sdb_verify_mac(kHandle, 8, data, 16, mac), SDB_ERR_MAC) << "replies use the other key";
}

// A session of another suite has no packet protection: it is refused, not
// passed through unchecked.
TEST_F(Secure, OtherSuitesAreRefused) {
  ASSERT_EQ(sdb_set_cipher_suite(kHandle, SC_PIV_CS7), 0u);
  build(0x91, {1});
  EXPECT_EQ(secure_ch_encrypt(&cmd), SDB_ERR_NOT_IMPLEMENTED);
  Bytes reply = card.protect_reply({1}, 0x9000);
  reply.resize(8192);
  const uint32_t h = kHandle;
  EXPECT_EQ(secure_ch_decrypt(&h, reply.data(), 8192), SDB_ERR_NOT_IMPLEMENTED);
  // The primitives themselves do nothing for it.
  uint8_t block[16] = {7};
  uint16_t n = 0;
  EXPECT_EQ(sdb_enc_payload(kHandle, 16, block, &n, block), 0u);
  EXPECT_EQ(block[0], 7);
}

}  // namespace
