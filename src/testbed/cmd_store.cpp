// Class 0x87: the token's object store. One file per occupied slot,
// "SeStore/<token>/obj-<slot>", holding the slot's 80-byte list entry and the
// object; a write is collected in memory part by part and only its closing
// part replaces the file (atomically: temporary file, fsync, rename), so a
// kill at any point leaves either the old object or the new one.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "oxlu/file.h"
#include "sim_internal.h"
#include "swhsm/swd.h"
#include "zeb/storage.h"

namespace se::sim {

std::string token_dir_name(const uint8_t* id) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < 16; ++i) {
    s += d[id[i] >> 4];
    s += d[id[i] & 15];
  }
  return s;
}

namespace {

constexpr uint32_t kPart = cmd::SE_STO_PART_SIZE;
constexpr uint32_t kSlots = cmd::SE_STO_SLOTS;
constexpr uint32_t kMaxObject = kPart * 255;  // parts 0..254; 0xFF closes
constexpr size_t kEntry = cmd::kStoSeobj;
constexpr size_t kEntriesPerReply = kReplyDataMax / kEntry;

std::string slot_path(const std::string& tdir, uint32_t slot) {
  char name[16];
  std::snprintf(name, sizeof name, "obj-%03u", slot);
  return tdir + name;
}

bool occupied(const std::string& tdir, uint32_t slot) {
  struct stat st {};
  return slot < kSlots && ::stat(slot_path(tdir, slot).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Reads a slot's file: entry, then object. False when the slot is empty.
bool read_slot(const std::string& tdir, uint32_t slot, std::vector<uint8_t>* file) {
  if (!occupied(tdir, slot)) return false;
  file->resize(kEntry + kMaxObject);
  size_t n = 0;
  if (oxlu_read_file(slot_path(tdir, slot).c_str(), file->data(), file->size(), &n) != OXLU_OK || n < kEntry) {
    return false;
  }
  file->resize(n);
  return true;
}

namespace st = cmd::sto;
using Impl = Simulator::Impl;

// A store command on a token the device has: its store directory, and the
// key of the session's write in progress.
struct Call {
  const cmd::Command& c;
  const Args& a;
  std::string tdir;
  std::pair<std::string, uint32_t> key;
};

Result storage_info(Impl&, const Call& x) {
  STO_LAYOUT total{}, free_layout{};
  uint16_t used = 0;
  for (uint32_t i = 0; i < kSlots; ++i) used += occupied(x.tdir, i) ? 1 : 0;
  total.total_pages = kSlots;
  total.key_store_obj_count = kSlots;
  free_layout.total_pages = static_cast<uint16_t>(kSlots - used);
  free_layout.key_store_obj_count = static_cast<uint16_t>(kSlots - used);
  return ok(std::vector<uint8_t>{1}, bytes(&total, sizeof total), bytes(&free_layout, sizeof free_layout));
}

Result set_layout(Impl&, const Call& x) { return ok(std::vector<uint8_t>(x.a.f[1].begin(), x.a.f[1].end())); }

Result create_token_storage(Impl&, const Call& x) {
  if (::mkdir(x.tdir.c_str(), 0700) != 0 && errno != EEXIST) return Result::err(kFailed);
  return ok();
}

Result delete_object(Impl&, const Call& x) {
  const uint32_t slot = x.a.u32(1);
  if (!occupied(x.tdir, slot)) return Result::err(kObjectInvalid);
  if (remove_safe(slot_path(x.tdir, slot).c_str()) != 0) return Result::err(kFailed);
  return ok();
}

Result delete_all(Impl& s, const Call& x) {
  for (uint32_t i = 0; i < kSlots; ++i) {
    if (occupied(x.tdir, i) && remove_safe(slot_path(x.tdir, i).c_str()) != 0) return Result::err(kFailed);
  }
  for (auto p = s.pending.begin(); p != s.pending.end();) {
    p = p->first.first == x.tdir ? s.pending.erase(p) : std::next(p);
  }
  if (&x.c == &st::DeleteObjDir) {
    std::error_code ec;
    std::filesystem::remove_all(x.tdir, ec);
    if (ec) return Result::err(kFailed);
  }
  return ok();
}

Result object_size(Impl&, const Call& x) {
  std::vector<uint8_t> file;
  if (!read_slot(x.tdir, x.a.u32(1), &file)) return Result::err(kObjectInvalid);
  return ok(le32(static_cast<uint32_t>(file.size() - kEntry)));
}

Result object_part(Impl&, const Call& x) {
  std::vector<uint8_t> file;
  if (!read_slot(x.tdir, x.a.u32(1), &file)) return Result::err(kObjectInvalid);
  const size_t size = file.size() - kEntry, off = size_t{x.a.u8(2)} * kPart;
  if (x.a.u8(2) == cmd::SE_STO_CLOSING_PART || off >= size) return Result::err(kArguments);
  const size_t n = std::min<size_t>(kPart, size - off);
  return ok(bytes(file.data() + kEntry + off, n));
}

Result occupancy_page(Impl&, const Call& x) {
  std::vector<uint8_t> page(cmd::SE_STO_PAGE_SIZE, 0);
  for (uint32_t i = 0; i < kSlots; ++i) {
    if (occupied(x.tdir, i)) page[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  return ok(std::move(page));
}

Result object_entries(Impl&, const Call& x) {
  const uint32_t start = x.a.u32(1), end = x.a.u32(2);
  if (start >= end || end > kSlots || end - start > kEntriesPerReply) return Result::err(kArguments);
  std::vector<uint8_t> out((end - start) * kEntry, 0);  // empty slots give zero entries
  for (uint32_t i = start; i < end; ++i) {
    std::vector<uint8_t> file;
    if (read_slot(x.tdir, i, &file)) std::memcpy(out.data() + (i - start) * kEntry, file.data(), kEntry);
  }
  return ok(std::move(out));
}

// Object writes, part by part.
Result write_part(Impl& s, const Call& x) {
  const Args& a = x.a;
  const std::string& tdir = x.tdir;
  const bool create = &x.c == &st::CreateObjectPart;
  const size_t o = create ? 1 : 2;  // first field after the index
  const auto part = a.f[o];
  const uint8_t number = a.u8(o + 2);
  auto it = s.pending.find(x.key);
  if (number == 0) {
    // A new write replaces any unfinished one of this session.
    if (it != s.pending.end()) s.pending.erase(it);
    Simulator::Pending p;
    p.create = create;
    if (create) {
      uint32_t slot = 0;
      auto reserved = [&](uint32_t i) {
        for (const auto& [k, v] : s.pending) {
          if (k.first == tdir && v.slot == i) return true;
        }
        return false;
      };
      while (slot < kSlots && (occupied(tdir, slot) || reserved(slot))) ++slot;
      if (slot == kSlots) return Result::err(kFailed);  // store full
      p.slot = slot;
    } else {
      p.slot = a.u32(1);
      if (!occupied(tdir, p.slot)) return Result::err(kObjectInvalid);
    }
    it = s.pending.emplace(x.key, std::move(p)).first;
  }
  if (it == s.pending.end() || it->second.create != create || (!create && it->second.slot != a.u32(1))) {
    return Result::err(kNotInitialized);
  }
  Simulator::Pending& p = it->second;
  std::memcpy(p.entry.data(), a.p(o + 1), kEntry);
  if (number == cmd::SE_STO_CLOSING_PART) {
    const uint32_t slot = p.slot;
    std::vector<uint8_t> file(p.entry.begin(), p.entry.end());
    file.insert(file.end(), p.data.begin(), p.data.end());
    s.pending.erase(it);
    if (!part.empty()) return Result::err(kArguments);  // the closing part carries no data
    struct stat info {};
    if (::stat(tdir.c_str(), &info) != 0 && ::mkdir(tdir.c_str(), 0700) != 0) return Result::err(kFailed);
    if (oxlu_write_file_atomic(slot_path(tdir, slot).c_str(), file.data(), file.size(), 0600) != OXLU_OK) {
      return Result::err(kFailed);
    }
    return create ? ok(le32(slot)) : ok();
  }
  // Parts in order, each full but the last.
  if (number != p.next_part || part.empty() || part.size() > kPart || p.data.size() % kPart != 0) {
    s.pending.erase(it);
    return Result::err(kArguments);
  }
  p.data.insert(p.data.end(), part.begin(), part.end());
  ++p.next_part;
  return create ? ok(le32(p.slot)) : ok();
}

constexpr Route<Call> kRoutes[] = {
    {&st::GetStorageInfo, storage_info},
    {&st::SetLayout, set_layout},
    {&st::CreateTokenStorage, create_token_storage},
    {&st::DeleteObject, delete_object},
    {&st::DeleteObjList, delete_all},
    {&st::DeleteObjDir, delete_all},
    {&st::GetObjectSize, object_size},
    {&st::GetObjectPart, object_part},
    {&st::GetOccupancyPage, occupancy_page},
    {&st::GetObjectEntries, object_entries},
    {&st::CreateObjectPart, write_part},
    {&st::UpdateObjectPart, write_part},
};

}  // namespace

Result Simulator::Impl::store(const cmd::Command& c, const Args& a) {
  PERSISTENCY_INPUT in{};
  std::memcpy(&in, a.p(0), sizeof in);
  // The token must exist on the device.
  uint8_t status = 0;
  if (const uint32_t rc = SWD_GetTokenStatus(hsm(), in.TknId, &status); rc != 0) return Result::err(rc);
  const Route<Call>* r = route_of(kRoutes, c);
  if (r == nullptr) return Result::err(kNotSupported);
  std::string tdir = dir() + "SeStore/" + token_dir_name(in.TknId) + "/";
  auto key = std::make_pair(tdir, in.hSession);
  return r->handle(*this, Call{c, a, std::move(tdir), std::move(key)});
}

}  // namespace se::sim
