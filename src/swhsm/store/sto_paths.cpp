// Object store: the root, the token paths, the directory tree and the
// failure report.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "oxlu/file.h"
#include "oxlu/scan.h"
#include "sto_internal.h"

namespace sto {
namespace {

char g_TknObjPath[STO_PATH_LEN] = "";

constexpr char kSourceName[] = "src/swhsm/store";

uint32_t compose(char (&out)[STO_PATH_LEN], const char* fmt, ...) __attribute__((format(printf, 2, 3)));
uint32_t compose(char (&out)[STO_PATH_LEN], const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(out, sizeof out, fmt, ap);
  va_end(ap);
  if (n < 0) return STO_ERR_FAILED;
  if (static_cast<size_t>(n) >= sizeof out) return STO_ERR_TOO_SMALL;
  return STO_OK;
}

size_t text_len(const uint8_t* p, size_t width) {
  size_t n = 0;
  while (n < width && p[n] != 0) ++n;
  return n;
}

// A field usable as one directory name: not empty, no '/', not "." or "..".
bool name_ok(const uint8_t* p, size_t n) {
  if (n == 0) return false;
  if (std::memchr(p, '/', n) != nullptr) return false;
  if (n == 1 && p[0] == '.') return false;
  if (n == 2 && p[0] == '.' && p[1] == '.') return false;
  return true;
}

uint32_t ensure_dir(const char* path) {
  struct stat st {};
  if (::stat(path, &st) == 0) return S_ISDIR(st.st_mode) ? STO_OK : STO_ERR_FAILED;
  if (errno != ENOENT) return STO_ERR_FAILED;
  if (cross_mkdir(path) == 0) return STO_OK;
  // Another process may have made it meanwhile.
  return (::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) ? STO_OK : STO_ERR_FAILED;
}

}  // namespace

uint32_t report(uint32_t rv, int line, const char* func) {
  if (rv != STO_OK) {
    std::fprintf(stderr, "\033[1;31mfailed with err = 0x%04x, [line %d, %s, %s]\033[m\n", rv, line, kSourceName, func);
  }
  return rv;
}

const char* root() { return g_TknObjPath; }

StepHook g_step_hook = nullptr;

void step(const char* name) {
  if (g_step_hook != nullptr) g_step_hook(name);
}

uint32_t token_paths(const PERSISTENCY_INPUT& in, TokenPaths* out) {
  const size_t sn_len = text_len(in.HsmSn, sizeof in.HsmSn);
  const size_t id_len = text_len(in.TknId, sizeof in.TknId);
  if (!name_ok(in.HsmSn, sn_len) || !name_ok(in.TknId, id_len)) return STO_ERR_FAILED;
  const int sn = static_cast<int>(sn_len), id = static_cast<int>(id_len);
  const char* s = reinterpret_cast<const char*>(in.HsmSn);
  const char* t = reinterpret_cast<const char*>(in.TknId);
  uint32_t rv;
  if ((rv = compose(out->store, "%s%s", g_TknObjPath, "/Store")) != STO_OK) return rv;
  if ((rv = compose(out->hsm, "%s/%.*s", out->store, sn, s)) != STO_OK) return rv;
  if ((rv = compose(out->dir, "%s/%.*s", out->hsm, id, t)) != STO_OK) return rv;
  if ((rv = compose(out->list, "%s/%s", out->dir, "objlist.cfg")) != STO_OK) return rv;
  return compose(out->lock, "%s/%s", out->dir, "objlist.lock");
}

uint32_t object_path(const TokenPaths& p, uint32_t index, char (&out)[STO_PATH_LEN]) {
  // Printed as a signed decimal, as the store always named its files.
  return compose(out, "%s/%d.obj", p.dir, static_cast<int>(index));
}

namespace {

// N of a file named "N.obj" (decimal, no sign or leading zero), else 0.
uint32_t object_number(const char* name) {
  uint64_t n = 0;
  size_t i = 0;
  for (; name[i] >= '0' && name[i] <= '9'; ++i) {
    if (i == 0 && name[i] == '0') return 0;
    n = n * 10 + static_cast<uint32_t>(name[i] - '0');
    if (n > UINT32_MAX) return 0;
  }
  return i > 0 && std::strcmp(name + i, ".obj") == 0 ? static_cast<uint32_t>(n) : 0;
}

}  // namespace

uint32_t skip_existing_objects(const TokenPaths& p, STO_SEOBJ_LIST* list) {
  if (list->ObjSeq >= STO_LAST_INDEX) return STO_OK;  // allocation refuses it
  char path[STO_PATH_LEN];
  const uint32_t rv = object_path(p, list->ObjSeq + 1, path);
  if (rv != STO_OK) return rv;
  if (::access(path, F_OK) != 0 && errno == ENOENT) return STO_OK;
  DIR* d = ::opendir(p.dir);
  if (d == nullptr) return STO_ERR_FAILED;
  uint32_t highest = list->ObjSeq;
  while (const dirent* e = ::readdir(d)) {
    const uint32_t n = object_number(e->d_name);
    if (n > highest) highest = n;
  }
  ::closedir(d);
  list->ObjSeq = highest;
  return STO_OK;
}

uint32_t make_dirs(const TokenPaths& p) {
  for (const char* d : {p.store, p.hsm, p.dir}) {
    const uint32_t rv = ensure_dir(d);
    if (rv != STO_OK) return STO_REPORT(rv);
  }
  return STO_OK;
}

}  // namespace sto

using namespace sto;

extern "C" uint32_t Sto_Initialize(STO_TKN_OBJECT_CONFIG_PATH* pfilepathConf) {
  if (pfilepathConf == nullptr) return STO_ERR_NULL;
  FILE* f = fopen_safe("./sto_filepath.cfg", "r");
  if (f == nullptr) {
    std::snprintf(g_TknObjPath, sizeof g_TknObjPath, "%s", "./");
    tidy_store();
    return STO_OK;
  }
  std::string text;
  char chunk[1024];
  size_t n;
  bool room = true;
  while (room && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    try {
      text.append(chunk, n);
    } catch (const std::exception&) {
      room = false;
    }
  }
  (void)fclose_safe(f);  // read only: nothing to lose on close
  if (!room) return STO_REPORT(STO_ERR_HOST_MEMORY);

  // The last line that carries the key wins; the value must leave room for
  // its terminator and the rest of every path.
  uint8_t value[STO_PATH_LEN + 1] = {};
  bool found = false;
  char line[1024];
  oxlu::for_each_line(text.data(), text.size(), line, sizeof line, [&](const char* l) {
    uint8_t v[STO_PATH_LEN + 1] = {};
    if (scan_char(l, "tknobj_config_path=", v, sizeof v) == 0) {
      std::memcpy(value, v, sizeof value);
      found = true;
    }
  });
  if (!found) {
    g_TknObjPath[0] = '\0';
    tidy_store();
    return STO_OK;
  }
  if (text_len(value, sizeof value) >= STO_PATH_LEN) return STO_REPORT(STO_ERR_TOO_SMALL);
  std::memcpy(g_TknObjPath, value, STO_PATH_LEN);
  tidy_store();
  return STO_OK;
}
