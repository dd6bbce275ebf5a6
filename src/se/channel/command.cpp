// The middleware command pattern and the back end's failure line.
#include <cstdio>
#include <cstring>

#include "se/channel.h"

void se_log_failure(uint32_t rv, const SeSite& where) {
  if (rv > 0xFFFF0000u) {
    const int code = static_cast<int>(rv);
    std::fprintf(stderr, "\033[1;31mfailed with err = %d(%s), [line %d, %s, %s]\033[m\n", code,
                libtrix_error_to_string(code), where.line, where.file, where.func);
  } else {
    std::fprintf(stderr, "\033[1;31mfailed with err = 0x%08x, [line %d, %s, %s]\033[m\n", rv, where.line, where.file,
                where.func);
  }
}

void se_cmd_init(se_cmd_t* cmd, uint8_t cla, uint8_t ins) {
  *cmd = se_cmd_t{};
  cmd->type[0] = 'M';
  cmd->type[1] = 'C';
  cmd->dly = SE_CMD_DLY;
  cmd->host_dly = SE_CMD_HOST_DLY;
  cmd->apdu.cla = cla;
  cmd->apdu.ins = ins;
  cmd->apdu.style = 1;
  cmd->apdu.extended_bytes = 1;
}

uint32_t se_mw_command(const SeSite& where, uint8_t cla, uint8_t ins, const ZEB_TLV* req, uint8_t n_req,
                       ZEB_TLV* rsp, uint8_t n_rsp, SeTagSet set) {
  se_cmd_t cmd;
  se_cmd_init(&cmd, cla, ins);
  if (n_req > 0) {
    uint16_t filled = 0;
    if (uint32_t rv = tlv_serialize_and_fill_buf(n_req, req, SE_MW_CDATA_SIZE, &filled, gl_mw_cdata); rv != 0) {
      se_log_failure(rv, where);
      return rv;
    }
    cmd.inbuf = gl_mw_cdata;
    cmd.inbuf_len = filled;
  }
  se_cmd_rsp_t response{};
  if (int rv = transport_normal_cmd_v2(&gl_device, &cmd, &response); rv != 0) {
    se_log_failure(static_cast<uint32_t>(rv), where);
    return static_cast<uint32_t>(rv);
  }
  if (n_rsp > 0) {
    const uint16_t len = static_cast<uint16_t>(response.buf_len);
    const uint32_t rv = set == SeTagSet::store
                            ? tlv_sto_deserialize_and_copy_to_arg(n_rsp, len, response.buf, rsp)
                            : tlv_deserialize_and_copy_to_arg(n_rsp, len, response.buf, rsp);
    if (rv != 0) {
      se_log_failure(rv, where);
      return rv;
    }
  }
  return 0;
}
