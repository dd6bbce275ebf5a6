// Device serial number: a library-reserved command (trix.h) on the record's
// transport, whatever the transport is.
#include <cstring>

#include "trix/transport.h"

namespace {

// One reserved-class exchange; on success `rsp` describes the reply's data.
int platform_exchange(se_device_t* dev, uint8_t ins, uint8_t* data, size_t data_len, se_cmd_rsp_t* rsp) {
  if (dev == nullptr || dev->buf == nullptr) return SE_ERROR_NO_SUCH_DEVICE;
  if (int rv = transport_is_locked(dev); rv != 0) return rv;
  se_cmd_t cmd{};
  cmd.apdu.cla = TRIX_PLATFORM_CLA;
  cmd.apdu.ins = ins;
  cmd.inbuf = data;
  cmd.inbuf_len = data_len;
  size_t len = 0;
  if (int rv = apdu_construct_input(&cmd, dev->buf, TRIX_IO_BUF_SIZE, &len); rv != 0) return rv;
  if (int rv = transport_tx(dev, dev->buf, len); rv != 0) return rv;
  if (int rv = transport_rx(dev, dev->buf, TRIX_IO_BUF_SIZE); rv != 0) return rv;
  if (int rv = se_cmd_parse_output(rsp, dev->buf, dev->buf_len); rv != 0) return rv;
  return rsp->err_code == 0x9000 ? 0 : SE_ERROR_PROTOCOL_STATUS;
}

}  // namespace

extern "C" {

int tem44_platform_set_sn(se_device_t* dev, const uint8_t* sn, int flag) {
  if (sn == nullptr) return SE_ERROR_INVALID_ARG;
  uint8_t data[TRIX_SN_LEN + 1];
  std::memcpy(data, sn, TRIX_SN_LEN);
  data[TRIX_SN_LEN] = static_cast<uint8_t>(flag);
  se_cmd_rsp_t rsp{};
  return platform_exchange(dev, TRIX_INS_SET_SN, data, sizeof data, &rsp);
}

int tem44_platform_get_sn(se_device_t* dev, uint8_t* sn, uint32_t* sn_len) {
  if (sn == nullptr || sn_len == nullptr) return SE_ERROR_INVALID_ARG;
  if (*sn_len < TRIX_SN_LEN) return SE_ERROR_BUF_LEN;
  se_cmd_rsp_t rsp{};
  if (int rv = platform_exchange(dev, TRIX_INS_GET_SN, nullptr, 0, &rsp); rv != 0) return rv;
  if (rsp.buf_len != TRIX_SN_LEN) return SE_ERROR_APDU_RESPONSE_LEN;
  std::memcpy(sn, rsp.buf, TRIX_SN_LEN);
  *sn_len = TRIX_SN_LEN;
  return 0;
}

}  // extern "C"
