// Class 0x87: the token's object store. One file per occupied slot,
// "SeStore/<token>/obj-<slot>", holding the slot's 80-byte list entry and the
// object; a write is collected in memory part by part and only its closing
// part replaces the file (atomically: temporary file, fsync, rename), so a
// kill at any point leaves either the old object or the new one.
//
// A create whose data is all in (its entry's length) may be left open while
// the session starts the next create: the next closing part then commits
// both as one change (a key pair: both keys or neither). Several files are
// committed through a journal, "SeStore/<token>/commit.journal", written
// atomically before the files and removed after them; a device killed in
// between finishes the files from it when it opens again.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "oxlu/file.h"
#include "sim_internal.h"
#include "swhsm/swd.h"
#include "zeb/storage.h"

namespace se::sim {

void (*g_commit_step_hook)(const char* step) = nullptr;

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

std::string journal_path(const std::string& tdir) { return tdir + "commit.journal"; }

// A slot's new file: its entry, then the object.
struct SlotFile {
  uint32_t slot;
  std::vector<uint8_t> bytes;
};

// Journal: per file its slot and length (u32 little-endian each), then its bytes.
std::vector<uint8_t> journal_of(const std::vector<SlotFile>& files) {
  std::vector<uint8_t> j;
  for (const SlotFile& f : files) {
    for (uint32_t v : {f.slot, static_cast<uint32_t>(f.bytes.size())}) {
      const auto b = le32(v);
      j.insert(j.end(), b.begin(), b.end());
    }
    j.insert(j.end(), f.bytes.begin(), f.bytes.end());
  }
  return j;
}

bool parse_journal(std::span<const uint8_t> j, std::vector<SlotFile>* files) {
  size_t off = 0;
  while (off < j.size()) {
    if (j.size() - off < 8) return false;
    const auto word = [&](size_t at) {
      return j[at] | (uint32_t{j[at + 1]} << 8) | (uint32_t{j[at + 2]} << 16) | (uint32_t{j[at + 3]} << 24);
    };
    const uint32_t slot = word(off), len = word(off + 4);
    off += 8;
    if (slot >= kSlots || len < kEntry || len > kEntry + kMaxObject || j.size() - off < len) return false;
    files->push_back({slot, std::vector<uint8_t>(j.begin() + off, j.begin() + off + len)});
    off += len;
  }
  return true;
}

void step(const char* name) {
  if (g_commit_step_hook != nullptr) g_commit_step_hook(name);
}

bool write_files(const std::string& tdir, const std::vector<SlotFile>& files) {
  for (const SlotFile& f : files) {
    if (oxlu_write_file_atomic(slot_path(tdir, f.slot).c_str(), f.bytes.data(), f.bytes.size(), 0600) != OXLU_OK) {
      return false;
    }
    step("object written");
  }
  return true;
}

// Writes the slots' files as one change: a single file is replaced
// atomically; several go through the journal. On failure none is left.
uint32_t commit(const std::string& tdir, const std::vector<SlotFile>& files) {
  struct stat info {};
  if (::stat(tdir.c_str(), &info) != 0 && ::mkdir(tdir.c_str(), 0700) != 0) return kFailed;
  if (files.size() == 1) return write_files(tdir, files) ? kOk : kFailed;
  const std::string journal = journal_path(tdir);
  const std::vector<uint8_t> j = journal_of(files);
  if (oxlu_write_file_atomic(journal.c_str(), j.data(), j.size(), 0600) != OXLU_OK) return kFailed;
  step("journal written");
  const bool written = write_files(tdir, files);
  if (!written) {
    // Taken back: none of the new files stays.
    for (const SlotFile& f : files) (void)remove_safe(slot_path(tdir, f.slot).c_str());
  }
  if (remove_safe(journal.c_str()) != 0 || !written) return kFailed;
  return kOk;
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

// An open create (being written, or waiting for its partner's closing
// part) in this token's store that holds `slot`.
bool drop_open_create(std::map<std::pair<std::string, uint32_t>, Simulator::Pending>& m, const std::string& tdir,
                      uint32_t slot) {
  for (auto p = m.begin(); p != m.end(); ++p) {
    if (p->first.first == tdir && p->second.create && p->second.slot == slot) {
      m.erase(p);
      return true;
    }
  }
  return false;
}

// Deleting the slot of an open create abandons that create.
Result delete_object(Impl& s, const Call& x) {
  const uint32_t slot = x.a.u32(1);
  const bool open_held = drop_open_create(s.held, x.tdir, slot);
  if (drop_open_create(s.pending, x.tdir, slot) || open_held) return ok();
  if (!occupied(x.tdir, slot)) return Result::err(kObjectInvalid);
  if (remove_safe(slot_path(x.tdir, slot).c_str()) != 0) return Result::err(kFailed);
  return ok();
}

Result delete_all(Impl& s, const Call& x) {
  for (uint32_t i = 0; i < kSlots; ++i) {
    if (occupied(x.tdir, i) && remove_safe(slot_path(x.tdir, i).c_str()) != 0) return Result::err(kFailed);
  }
  for (auto* m : {&s.pending, &s.held}) {
    for (auto p = m->begin(); p != m->end();) p = p->first.first == x.tdir ? m->erase(p) : std::next(p);
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

// A create whose data is all in: as long as its entry's data length and
// the header and MAC around it.
bool complete(const Simulator::Pending& p) {
  const uint8_t* n = p.entry.data() + kEntry - 4;
  const uint32_t data_len = n[0] | (uint32_t{n[1]} << 8) | (uint32_t{n[2]} << 16) | (uint32_t{n[3]} << 24);
  return p.create && p.next_part != 0 && p.data.size() == uint64_t{data_len} + 128;
}

// Starts a write at its part 0. The session's write in progress is replaced;
// when that was a complete create and this is a create too, it is held for
// this one's closing part (one held at most).
Result begin_write(Impl& s, const Call& x, bool create) {
  const std::string& tdir = x.tdir;
  auto it = s.pending.find(x.key);
  s.held.erase(x.key);
  if (it != s.pending.end()) {
    if (create && complete(it->second)) s.held.emplace(x.key, std::move(it->second));
    s.pending.erase(it);
  }
  Simulator::Pending p;
  p.create = create;
  if (create) {
    auto reserved = [&](uint32_t i) {
      for (const auto* m : {&s.pending, &s.held}) {
        for (const auto& [k, v] : *m) {
          if (k.first == tdir && v.create && v.slot == i) return true;
        }
      }
      return false;
    };
    uint32_t slot = 0;
    while (slot < kSlots && (occupied(tdir, slot) || reserved(slot))) ++slot;
    if (slot == kSlots) return Result::err(kFailed);  // store full
    p.slot = slot;
  } else {
    p.slot = x.a.u32(1);
    if (!occupied(tdir, p.slot)) return Result::err(kObjectInvalid);
  }
  s.pending.emplace(x.key, std::move(p));
  return ok();
}

// Object writes, part by part.
Result write_part(Impl& s, const Call& x) {
  const Args& a = x.a;
  const bool create = &x.c == &st::CreateObjectPart;
  const size_t o = create ? 1 : 2;  // first field after the index
  const auto part = a.f[o];
  const uint8_t number = a.u8(o + 2);
  if (number == 0) {
    if (Result r = begin_write(s, x, create); r.code != kOk) return r;
  }
  auto it = s.pending.find(x.key);
  if (it == s.pending.end() || it->second.create != create || (!create && it->second.slot != a.u32(1))) {
    return Result::err(kNotInitialized);
  }
  Simulator::Pending& p = it->second;
  std::memcpy(p.entry.data(), a.p(o + 1), kEntry);
  if (number == cmd::SE_STO_CLOSING_PART) {
    std::vector<SlotFile> files;
    if (auto h = s.held.find(x.key); create && h != s.held.end()) {
      files.push_back({h->second.slot, std::vector<uint8_t>(h->second.entry.begin(), h->second.entry.end())});
      files.back().bytes.insert(files.back().bytes.end(), h->second.data.begin(), h->second.data.end());
    }
    s.held.erase(x.key);
    const uint32_t slot = p.slot;
    files.push_back({slot, std::vector<uint8_t>(p.entry.begin(), p.entry.end())});
    files.back().bytes.insert(files.back().bytes.end(), p.data.begin(), p.data.end());
    s.pending.erase(it);
    if (!part.empty()) return Result::err(kArguments);  // the closing part carries no data
    if (const uint32_t rc = commit(x.tdir, files); rc != kOk) return Result::err(rc);
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

void finish_commit(const std::string& tdir) {
  const std::string journal = journal_path(tdir);
  struct stat info {};
  if (::stat(journal.c_str(), &info) != 0) return;
  std::vector<uint8_t> j(static_cast<size_t>(info.st_size));
  size_t n = 0;
  if (oxlu_read_file(journal.c_str(), j.data(), j.size(), &n) != OXLU_OK || n != j.size()) return;  // kept
  // Written atomically, so a journal that is there is whole: its files are
  // written again (the same bytes where they were already). One that does
  // not parse names nothing to finish.
  std::vector<SlotFile> files;
  if (parse_journal(j, &files) && !write_files(tdir, files)) return;  // kept for the next start
  (void)remove_safe(journal.c_str());
}

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
