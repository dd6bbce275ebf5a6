// The scripted transport of the unit tests.
#include <cstring>

#include "trix/transport.h"

namespace trix {

void ScriptedTransport::expect(std::vector<uint8_t> request, std::vector<uint8_t> reply) {
  script_.push_back(Step{std::move(request), std::move(reply)});
}

int ScriptedTransport::send(const uint8_t* data, size_t len) {
  sent_.emplace_back(data, data + len);
  have_reply_ = false;
  if (send_fail_ != 0) {
    const int rv = send_fail_;
    send_fail_ = 0;
    return rv;
  }
  if (script_.empty()) {
    ++mismatches_;
    return SE_ERROR_TX;
  }
  Step step = std::move(script_.front());
  script_.pop_front();
  if (!step.request.empty() && step.request != sent_.back()) {
    ++mismatches_;
    return SE_ERROR_TX;
  }
  reply_ = std::move(step.reply);
  have_reply_ = true;
  return 0;
}

int ScriptedTransport::receive(uint8_t* buf, size_t cap, size_t* len) {
  if (recv_fail_ != 0) {
    const int rv = recv_fail_;
    recv_fail_ = 0;
    return rv;
  }
  if (!have_reply_) return SE_ERROR_RX;
  have_reply_ = false;
  if (reply_.size() > cap) return SE_ERROR_BUF_LEN;
  if (!reply_.empty()) std::memcpy(buf, reply_.data(), reply_.size());
  *len = reply_.size();
  return 0;
}

ScriptedTransport* attach_scripted(se_device_t* dev) {
  auto t = std::make_unique<ScriptedTransport>();
  ScriptedTransport* raw = t.get();
  return attach(dev, std::move(t)) == 0 ? raw : nullptr;
}

}  // namespace trix
