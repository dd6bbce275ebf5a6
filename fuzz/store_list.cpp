// A token's object list (objlist.cfg, one 40,968-byte record) as the store
// finds it on disk, then every list operation on it. The first byte picks
// whether the input is the file as it stands (any length, mostly refused as
// damaged) or the record's counts and leading entries, zero-filled to its size.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "fuzz_util.h"
#include "swhsm/sto.h"

namespace {

constexpr char kTokenDir[] = "./Store/HSM0000000000042/Tkn01";

PERSISTENCY_INPUT token() {
  PERSISTENCY_INPUT in{};
  std::memcpy(in.HsmSn, "HSM0000000000042", 16);
  std::memcpy(in.TknId, "Tkn01", 5);
  return in;
}

STO_SEOBJ meta(uint8_t type) {
  STO_SEOBJ m{};
  std::memcpy(m.TknId, "Tkn01", 5);
  std::memcpy(m.ObjId, "fuzz", 4);
  m.ObjType = type;
  m.u32DataLen = 4;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2 * sizeof(STO_SEOBJ_LIST)) return 0;
  fz::enter_work_dir();
  static const bool rooted = [] {
    STO_TKN_OBJECT_CONFIG_PATH p{};
    return Sto_Initialize(&p) == STO_OK;
  }();
  if (!rooted) fz::fail("no store root");
  std::error_code ec;
  std::filesystem::remove_all("./Store", ec);
  PERSISTENCY_INPUT in = token();
  if (Sto_CreateTokenStorage(&in) != STO_OK) fz::fail("no token storage");

  fz::Input input(data, size);
  const bool raw = input.byte() & 1;
  const std::string list_path = std::string(kTokenDir) + "/objlist.cfg";
  if (raw) {
    fz::write_file(list_path.c_str(), input.data(), input.size());
  } else {
    // The counts first (they sit at the end of the record), then the entries.
    auto record = std::make_unique<STO_SEOBJ_LIST>();
    uint8_t counts[8] = {};
    std::memcpy(counts, input.data(), std::min<size_t>(input.size(), sizeof counts));
    std::memcpy(&record->ObjNum, counts, 4);
    std::memcpy(&record->ObjSeq, counts + 4, 4);
    if (input.size() > sizeof counts) {
      std::memcpy(record->seobj_array, input.data() + sizeof counts,
                  std::min(input.size() - sizeof counts, sizeof record->seobj_array));
    }
    fz::write_file(list_path.c_str(), reinterpret_cast<const uint8_t*>(record.get()), sizeof *record);
  }
  // An object file beside the list, as a token with objects has them.
  static const uint8_t kObject[] = {'o', 'b', 'j', '1'};
  fz::write_file((std::string(kTokenDir) + "/1.obj").c_str(), kObject, sizeof kObject);

  auto list = std::make_unique<STO_SEOBJ_LIST>();
  if (Sto_LoadObjectList(&in, list.get()) != STO_OK) return 0;
  uint8_t object[8] = {'f', 'u', 'z', 'z'};
  STO_SEOBJ m = meta(3);
  int used = 0;
  for (const STO_SEOBJ& e : list->seobj_array) {
    if (e.ObjIndex == 0 || used++ == 3) continue;
    uint32_t len = 0;
    (void)Sto_GetObjectSize(&in, e.ObjIndex, &len);
    len = sizeof object;
    (void)Sto_GetObject(&in, e.ObjIndex, object, &len);
    if (len > sizeof object) fz::fail("object read past the buffer");
    (void)Sto_UpdateObject(&in, e.ObjIndex, object, 4, &m);
    if (used == 2) (void)Sto_DeleteObject(&in, e.ObjIndex);
  }
  uint32_t index = 0;
  (void)Sto_CreateObject(&in, &index, object, 4, &m);
  (void)Sto_LoadObjectList(&in, list.get());
  return 0;
}
