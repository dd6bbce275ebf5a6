// The device's side of the secure channel, computed with OpenSSL: checks and
// decrypts protected commands and protects replies, with its own counter and
// MAC chain.
#pragma once

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "trix/transport.h"

namespace sct {

using Bytes = std::vector<uint8_t>;

inline Bytes aes128(const uint8_t* key, const uint8_t* iv, const Bytes& in, bool enc) {
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n = 0, m = 0;
  EVP_CipherInit_ex(c, iv == nullptr ? EVP_aes_128_ecb() : EVP_aes_128_cbc(), nullptr, key, iv, enc ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(c, 0);
  EVP_CipherUpdate(c, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(c, out.data() + n, &m);
  EVP_CIPHER_CTX_free(c);
  out.resize(static_cast<size_t>(n + m));
  return out;
}

inline Bytes hmac16(const uint8_t* key, const Bytes& chain, const Bytes& data) {
  Bytes msg = chain;
  msg.insert(msg.end(), data.begin(), data.end());
  uint8_t out[32];
  unsigned len = 0;
  HMAC(EVP_sha256(), key, 16, msg.data(), msg.size(), out, &len);
  return Bytes(out, out + 16);
}

inline void increment(Bytes& ctr) {
  for (size_t i = ctr.size() - 1; i >= 1; --i) {
    if (++ctr[i] != 0) return;
  }
}

struct Keys {
  uint8_t enc[16], cmd_mac[16], rsp_mac[16];
};

// Device state of one session.
struct CardSide {
  Keys keys{};
  Bytes counter = Bytes(16, 0);
  Bytes chain = Bytes(16, 0);

  CardSide() { counter[0] = 0x80; }

  Bytes next_iv() {
    Bytes iv = aes128(keys.enc, nullptr, counter, true);
    increment(counter);
    return iv;
  }

  // Checks and opens a raw command; throws on any fault.
  Bytes open_command(const Bytes& raw, uint32_t* handle = nullptr) {
    const size_t n = raw[8] | (raw[9] << 8);
    if (raw.size() != 10 + n || n < 4 + 16 + 16) throw std::runtime_error("bad command size");
    const Bytes data(raw.begin() + 10, raw.end());
    if (handle != nullptr) std::memcpy(handle, data.data(), 4);
    const Bytes ct(data.begin() + 4, data.end() - 16);
    Bytes mac_in(raw.begin(), raw.begin() + 6);  // CLA INS P1 P2 LC
    mac_in.insert(mac_in.end(), data.begin(), data.end() - 16);
    const Bytes mac = hmac16(keys.cmd_mac, chain, mac_in);
    if (!std::equal(mac.begin(), mac.end(), data.end() - 16)) throw std::runtime_error("command MAC");
    chain = mac;
    const Bytes iv = next_iv();
    Bytes plain = aes128(keys.enc, iv.data(), ct, false);
    // A pad byte longer than what it pads is a malformed command, refused
    // like any other; the padding is cut off, never the length made to wrap.
    const uint8_t pad = plain.empty() ? 0 : plain.back();
    if (pad == 0 || pad > 16 || pad > plain.size()) throw std::runtime_error("command padding");
    plain.erase(plain.end() - pad, plain.end());
    return plain;
  }

  // A protected reply carrying `payload` and `sw`.
  Bytes protect_reply(const Bytes& payload, uint16_t sw) {
    Bytes padded = payload;
    const uint8_t pad = static_cast<uint8_t>(16 - payload.size() % 16);
    padded.insert(padded.end(), pad, pad);
    const Bytes iv = next_iv();
    const Bytes ct = aes128(keys.enc, iv.data(), padded, true);
    Bytes body = ct;
    body.push_back(static_cast<uint8_t>(sw >> 8));
    body.push_back(static_cast<uint8_t>(sw));
    const Bytes mac = hmac16(keys.rsp_mac, chain, body);
    chain = mac;
    const size_t L = ct.size() + 18;
    Bytes r(2 + body.size() + mac.size());
    r[0] = static_cast<uint8_t>(L);
    r[1] = static_cast<uint8_t>(L >> 8);
    std::memcpy(r.data() + 2, body.data(), body.size());
    std::memcpy(r.data() + 2 + body.size(), mac.data(), mac.size());
    return r;
  }
};

// A transport that is the device: opens each command and answers with
// `answer(plain)` under status 90 00; `tamper` may change the reply bytes.
class CardTransport final : public trix::Transport {
 public:
  explicit CardTransport(CardSide* card) : card_(card) {}
  std::function<Bytes(const Bytes&)> answer = [](const Bytes& p) { return p; };
  std::function<void(Bytes&)> tamper;
  Bytes last_plain;
  std::string fault;  // why the last command was refused
  std::vector<Bytes> raw_commands;
  bool protect = true;

  int send(const uint8_t* data, size_t len) override {
    raw_commands.emplace_back(data, data + len);
    const Bytes raw(data, data + len);
    if (protect) {
      // A command the device refuses fails the send (no exception may
      // cross the channel's C code).
      try {
        last_plain = card_->open_command(raw);
      } catch (const std::exception& e) {
        fault = e.what();
        return SE_ERROR_TX;
      }
      reply_ = card_->protect_reply(answer(last_plain), 0x9000);
    } else {
      last_plain.assign(raw.begin() + 10, raw.end());
      reply_ = trix::make_reply(answer(last_plain), 0x9000);
    }
    if (tamper) tamper(reply_);
    return 0;
  }
  int receive(uint8_t* buf, size_t cap, size_t* len) override {
    if (reply_.size() > cap) return -22;
    std::memcpy(buf, reply_.data(), reply_.size());
    *len = reply_.size();
    return 0;
  }

 private:
  CardSide* card_;
  Bytes reply_;
};

}  // namespace sct
