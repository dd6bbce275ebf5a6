// The simulated device behind the access library's record, in process: each
// raw command the middleware sends goes straight to the simulator's dispatch
// and its reply comes back as the record's receive, with no socket between.
#pragma once

#include <cstring>
#include <vector>

#include "se_sim/simulator.h"
#include "trix/transport.h"

namespace sst {

class SimTransport final : public trix::Transport {
 public:
  explicit SimTransport(se::sim::Simulator& sim) : sim_(sim) {}

  int send(const uint8_t* data, size_t len) override {
    if (data == nullptr && len != 0) return SE_ERROR_INVALID_ARG;
    reply_.resize(TRIX_IO_BUF_SIZE);
    reply_.resize(sim_.execute({data, len}, reply_));
    have_reply_ = true;
    return 0;
  }
  // One reply per command, as the console gives it.
  int receive(uint8_t* buf, size_t cap, size_t* len) override {
    if (!have_reply_) return SE_ERROR_RX;
    have_reply_ = false;
    if (reply_.size() > cap) return SE_ERROR_BUF_LEN;
    std::memcpy(buf, reply_.data(), reply_.size());
    *len = reply_.size();
    return 0;
  }

 private:
  se::sim::Simulator& sim_;
  std::vector<uint8_t> reply_;
  bool have_reply_ = false;
};

}  // namespace sst
