// Token objects: save, list, find, read back with re-wrapping, update,
// import/export and delete, over the real software store.
#include <filesystem>
#include <set>

#include "object_fixture.h"
#include "swhsm/sto.h"
#include "swhsm/testing.h"

namespace {

using namespace zt;
using Persistency = ObjectHsm;

TEST_F(Persistency, EveryKindSavedListedFoundReadAndDeleted) {
  std::vector<uint32_t> handles;
  std::vector<Bytes> objects;
  for (const Kind& k : kKinds) {
    const std::string id = std::string("id-") + k.name;
    const std::string label = std::string("label of ") + k.name;
    Bytes obj = make(k, id.c_str(), label.c_str(), pattern(32 + k.type, k.type));
    const Bytes before = obj;
    handles.push_back(save(obj));
    EXPECT_EQ(obj, before) << k.name;  // the caller's buffer is left alone
    objects.push_back(obj);
  }
  VRK_SEOBJ_LIST list;
  uint32_t count = 0;
  ASSERT_EQ(VRK_ListObjects(s, &list, &count), 0);
  ASSERT_EQ(count, std::size(kKinds));
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    const Kind& k = kKinds[i];
    SCOPED_TRACE(k.name);
    const std::string id = std::string("id-") + k.name;
    const std::string label = std::string("label of ") + k.name;
    EXPECT_EQ(handles[i], i + 1);
    EXPECT_EQ(list.seobj_array[i].ObjIndex, handles[i]);
    EXPECT_EQ(list.seobj_array[i].ObjType, k.type);
    EXPECT_EQ(list.seobj_array[i].ObjKeyAlgo, k.algo);
    EXPECT_STREQ(reinterpret_cast<const char*>(list.seobj_array[i].ObjLabel), label.c_str());
    uint32_t found = 0;
    ASSERT_EQ(VRK_FindObjectsID(s, k.type, k.algo, u8(id.c_str()), &found), 0);
    EXPECT_EQ(found, handles[i]);
    ASSERT_EQ(VRK_FindObjectsLabel(s, k.type, k.algo, u8(label.c_str()), &found), 0);
    EXPECT_EQ(found, handles[i]);
    ASSERT_EQ(VRK_FindObjects(s, k.type, k.algo, u8(id.c_str()), u8(label.c_str()), &found), 0);
    EXPECT_EQ(found, handles[i]);
    // Read back in the same session: the very bytes that were saved (keys
    // come back under this session's key).
    EXPECT_EQ(read(handles[i]), objects[i]);
    uint8_t span = 9;
    ASSERT_EQ(VRK_GetObjectLifeSpan(s, handles[i], &span), 0);
    EXPECT_EQ(span, VRK_OBJ_TOKEN);
  }
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    ASSERT_EQ(VRK_DeleteObject(s, handles[i]), 0) << kKinds[i].name;
    EXPECT_FALSE(std::filesystem::exists(token_dir() + std::to_string(handles[i]) + ".obj"));
    const int rv = VRK_CheckObjectExist(s, handles[i]);
    EXPECT_TRUE(absent(rv)) << rv;
  }
  ASSERT_EQ(VRK_ListObjects(s, &list, &count), 0);
  EXPECT_EQ(count, 0u);
}

TEST_F(Persistency, KeysAreStoredUnderTheTokenKeyAndReadUnderANewSessionKey) {
  const Bytes raw = pattern(32, 7);
  Bytes obj = make(kKinds[1], "aes", "aes key", raw);
  const uint32_t idx = save(obj);
  // The file holds neither the session form nor the plain key.
  const std::string file = read_file(token_dir() + std::to_string(idx) + ".obj");
  ASSERT_EQ(file.size(), obj.size());
  EXPECT_NE(Bytes(file.begin() + 96, file.begin() + 128), Bytes(obj.begin() + 96, obj.begin() + 128));
  EXPECT_EQ(file.find(std::string(raw.begin(), raw.end())), std::string::npos);

  ASSERT_EQ(VRK_CloseTokenSession(s), 0u);
  s = user_session(tkn);
  const Bytes back = read(idx);
  ASSERT_EQ(back.size(), obj.size());
  EXPECT_NE(back, obj);  // another session, another wrapping
  const Bytes wrapped = context_of(back);
  Bytes plain(wrapped.size());
  uint32_t n = static_cast<uint32_t>(plain.size());
  ASSERT_EQ(VRK_SetSwKey2Plain(s, const_cast<uint8_t*>(wrapped.data()), static_cast<uint32_t>(wrapped.size()),
                               plain.data(), &n),
            0u);
  EXPECT_EQ(plain, raw);
  EXPECT_EQ(export_raw(idx), raw);
}

TEST_F(Persistency, ExportUnwrapsOnlySecretAndPrivateKeys) {
  for (const Kind& k : kKinds) {
    const Bytes ctx = pattern(40, static_cast<uint8_t>(k.type * 3));
    const uint32_t idx = save(make(k, k.name, k.name, ctx));
    EXPECT_EQ(export_raw(idx), ctx) << k.name;
  }
}

TEST_F(Persistency, ExportAndImportCapacities) {
  const Bytes raw = pattern(32, 1);
  const uint32_t idx = save(make(kKinds[1], "k", "k", raw));
  Bytes key(31, 0xEE);
  uint32_t n = 31;
  EXPECT_EQ(VRK_ExportRawKey(s, idx, key.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(key, Bytes(31, 0xEE));

  Bytes obj(159, 0xEE);
  uint32_t len = 159;
  EXPECT_EQ(VRK_Import_RAW_AES256_Key(s, const_cast<uint8_t*>(raw.data()), 32, u8("k"), u8("k"), obj.data(), &len),
            VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 160u);
  EXPECT_EQ(obj, Bytes(159, 0xEE));

  Bytes read_buf(159);
  len = 159;
  EXPECT_EQ(VRK_GetObject(s, idx, read_buf.data(), &len), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 160u);
  uint8_t one = 0;
  EXPECT_EQ(VRK_ExportRawKey(s, 999, &one, &n), VRK_ERR_OBJECT_ABSENT);
}

TEST_F(Persistency, ImportedPublicKeyIsStoredPlainWithEncFlag) {
  const Bytes raw = pattern(65, 3);
  Bytes obj(65 + 128);
  uint32_t len = static_cast<uint32_t>(obj.size());
  ASSERT_EQ(VRK_Import_RAW_ECC_P256_PublicKey(s, const_cast<uint8_t*>(raw.data()), 65, u8("pub"), u8("pub"),
                                              obj.data(), &len),
            0);
  const VRK_OBJECT_META m = meta_of(obj);
  EXPECT_EQ(m.ObjEnc, 1);
  EXPECT_EQ(m.ObjType, VRK_OBJ_PUBLICKEY);
  EXPECT_EQ(m.ObjKeyAlgo, VRK_KEY_EC_NIST256);
  EXPECT_EQ(m.u32DataLen, 65u);
  EXPECT_EQ(context_of(obj), raw);
}

TEST_F(Persistency, UpdateRewrapsKeysAsSaveDoes) {
  const uint32_t idx = save(make(kKinds[1], "k", "old", pattern(32, 1)));
  const Bytes fresh = pattern(32, 99);
  Bytes upd = make(kKinds[1], "k", "new", fresh);
  const Bytes before = upd;
  ASSERT_EQ(VRK_UpdObject(s, idx, upd.data(), static_cast<uint32_t>(upd.size())), 0);
  EXPECT_EQ(upd, before);
  EXPECT_EQ(export_raw(idx), fresh);
  EXPECT_EQ(read(idx), upd);
  uint32_t found = 0;
  EXPECT_EQ(VRK_FindObjectsLabel(s, VRK_OBJ_SECRETKEY, VRK_KEY_AES256, u8("new"), &found), 0);
  EXPECT_EQ(found, idx);
}

TEST_F(Persistency, AlteredObjectFileIsRefused) {
  const uint32_t idx = save(make(kKinds[0], "d", "d", pattern(50, 5)));
  const std::string path = token_dir() + std::to_string(idx) + ".obj";
  const std::string good = read_file(path);
  for (size_t pos : {size_t{2}, size_t{40}, size_t{100}, good.size() - 1}) {
    std::string bad = good;
    bad[pos] = static_cast<char>(bad[pos] ^ 0x01);
    write_file(path, bad);
    int rv = 0;
    read(idx, 0, &rv);
    EXPECT_EQ(rv, 0x560) << pos;
  }
  write_file(path, good);
  int rv = 1;
  read(idx, 0, &rv);
  EXPECT_EQ(rv, 0);
}

TEST_F(Persistency, FindsAndTheirMisses) {
  const uint32_t a = save(make(kKinds[0], "same", "first", pattern(8, 1)));
  save(make(kKinds[0], "same", "second", pattern(8, 2)));
  uint32_t found = 0;
  ASSERT_EQ(VRK_FindObjectsID(s, VRK_OBJ_DATA, VRK_KEY_NONE, u8("same"), &found), 0);
  EXPECT_EQ(found, a);  // the lower list entry
  EXPECT_EQ(VRK_FindObjectsLabel(s, VRK_OBJ_DATA, VRK_KEY_NONE, u8("none"), &found), VRK_ERR_FAILED);
  EXPECT_EQ(found, 0xFFFFFFFFu);
  found = 0;
  EXPECT_EQ(VRK_FindObjects(s, VRK_OBJ_DATA, VRK_KEY_NONE, u8("same"), u8("none"), &found), 0);
  EXPECT_EQ(found, 0xFFFFFFFFu);
  EXPECT_EQ(VRK_FindObjectsID(s, VRK_OBJ_SECRETKEY, VRK_KEY_NONE, u8("same"), &found), VRK_ERR_FAILED);  // type counts
}

TEST_F(Persistency, LoginRules) {
  const uint32_t idx = save(make(kKinds[0], "d", "d", pattern(8, 1)));
  ASSERT_EQ(VRK_LogoutTokenNormalUser(s), 0u);
  Bytes obj(200);
  uint32_t len = 200;
  EXPECT_EQ(VRK_GetObject(s, idx, obj.data(), &len), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_SaveObject(s, obj.data(), len, &len), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_DeleteObject(s, idx), VRK_ERR_USER_NOT_LOGGED_IN);
  VRK_SEOBJ_LIST list;
  uint32_t count = 0;
  EXPECT_EQ(VRK_ListObjects(s, &list, &count), 0);  // listing needs no login
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(VRK_GetObject(0x1234, idx, obj.data(), &len), VRK_ERR_SESSION_HANDLE);
}

TEST_F(Persistency, ObjectWithoutIdIsNotSaved) {
  Bytes obj = make(kKinds[0], "x", "x", pattern(8, 1));
  VRK_OBJECT_META m = meta_of(obj);
  std::memset(m.ObjId, 0, sizeof m.ObjId);
  ASSERT_EQ(VRK_UpdObjectMeta(s, obj.data(), static_cast<uint32_t>(obj.size()), &m), 0);
  uint32_t idx = 0;
  EXPECT_EQ(VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx), VRK_ERR_EMPTY_ID);
}

TEST_F(Persistency, TokenObjectImportAndExport) {
  const Bytes raw = pattern(32, 4);
  const uint32_t idx = save(make(kKinds[1], "k", "k", raw));
  Bytes exported(400);
  uint32_t len = static_cast<uint32_t>(exported.size());
  ASSERT_EQ(VRK_ExportTknObject(s, idx, exported.data(), &len), 0);
  exported.resize(len);
  EXPECT_EQ(exported, bytes_of(read_file(token_dir() + "1.obj")));
  uint32_t again = 0;
  ASSERT_EQ(VRK_ImportTknObject(s, exported.data(), len, VRK_OBJ_TOKEN, &again), 0);
  EXPECT_EQ(export_raw(again), raw);
  uint32_t sess_handle = 0;
  const Bytes copy = exported;
  ASSERT_EQ(VRK_ImportTknObject(s, exported.data(), len, VRK_OBJ_SESSION, &sess_handle), 0);
  EXPECT_EQ(exported, copy);
  EXPECT_EQ(sess_handle, 0x80000000u);
  Bytes held(len);
  uint32_t hl = len;
  ASSERT_EQ(VRK_GetSessionObject(s, sess_handle, held.data(), &hl), 0);
  EXPECT_EQ(held, read(idx));  // the session copy is under the session key
}

TEST_F(Persistency, DeleteTokenObjectsRemovesEverything) {
  std::vector<uint32_t> h;
  for (int i = 0; i < 4; ++i) h.push_back(save(make(kKinds[0], "d", "d", pattern(8, 1))));
  ASSERT_EQ(VRK_DeleteObject(s, h[1]), 0);  // a hole in the list
  VRK_HANDLE admin = admin_session();
  ASSERT_EQ(VRK_DeleteTknObjects(admin, tkn.data()), 0);
  EXPECT_FALSE(std::filesystem::exists(token_dir()));
}

// ---- Limits -------------------------------------------------------------------

TEST_F(Persistency, FullListAndExhaustedSequence) {
  PERSISTENCY_INPUT in{};
  std::memcpy(in.HsmSn, kHsmSn, 16);
  std::memcpy(in.TknId, tkn.data(), 16);
  auto list = std::make_unique<STO_SEOBJ_LIST>();
  for (uint32_t i = 0; i < 512; ++i) {
    list->seobj_array[i].ObjIndex = i + 1;
    list->seobj_array[i].ObjId[0] = 'x';
  }
  list->ObjNum = 512;
  list->ObjSeq = 512;
  ASSERT_EQ(Sto_SaveObjectList(&in, list.get()), 0u);
  Bytes obj = make(kKinds[0], "d", "d", pattern(8, 1));
  uint32_t idx = 0;
  EXPECT_EQ(VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx), VRK_ERR_FAILED);
  EXPECT_FALSE(std::filesystem::exists(token_dir() + "513.obj"));
  // A refused save leaves a key object in the caller's hands as it was.
  Bytes key = make(kKinds[1], "k", "k", pattern(32, 1));
  const Bytes key_before = key;
  EXPECT_EQ(VRK_SaveObject(s, key.data(), static_cast<uint32_t>(key.size()), &idx), VRK_ERR_FAILED);
  EXPECT_EQ(key, key_before);
  *list = STO_SEOBJ_LIST{};
  list->ObjSeq = 0xFFFFFFFE;
  ASSERT_EQ(Sto_SaveObjectList(&in, list.get()), 0u);
  EXPECT_EQ(VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx), VRK_ERR_FAILED);
  *list = STO_SEOBJ_LIST{};
  list->ObjSeq = 0xFFFFFFFD;
  ASSERT_EQ(Sto_SaveObjectList(&in, list.get()), 0u);
  ASSERT_EQ(VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx), 0);
  EXPECT_EQ(idx, 0xFFFFFFFEu);
  EXPECT_TRUE(std::filesystem::exists(token_dir() + "-2.obj"));  // printed as a signed number
  EXPECT_EQ(read(idx), obj);
}

TEST_F(Persistency, ShortListFileIsRefusedNotReset) {
  const uint32_t first = save(make(kKinds[0], "a", "a", pattern(8, 1)));
  const std::string path = token_dir() + "objlist.cfg";
  write_file(path, read_file(path).substr(0, 40000));
  VRK_SEOBJ_LIST list;
  uint32_t count = 0;
  EXPECT_EQ(VRK_ListObjects(s, &list, &count), VRK_ERR_FAILED);
  Bytes obj = make(kKinds[0], "b", "b", pattern(8, 2));
  uint32_t idx = 0;
  EXPECT_EQ(VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx), VRK_ERR_FAILED);
  EXPECT_EQ(read(first), make(kKinds[0], "a", "a", pattern(8, 1)));  // 1.obj not overwritten
}

// ---- Several processes ------------------------------------------------------------

TEST_F(Persistency, TwoProcessesSavingAtOnceLoseAndOverwriteNothing) {
  constexpr int kEach = 60;
  VRK_SEOBJ_LIST list;
  uint32_t count = 0;
  ASSERT_EQ(VRK_ListObjects(s, &list, &count), 0);  // cached in this process
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  auto run = [&](const char* who) {
    for (int k = 0; k < kEach; ++k) {
      char id[16];
      std::snprintf(id, sizeof id, "%s%d", who, k);
      Bytes obj = make(kKinds[0], id, id, bytes_of(id));
      uint32_t idx = 0;
      if (VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx) != 0) return false;
    }
    return true;
  };
  const pid_t pid = fork();
  if (pid == 0) {
    char c;
    (void)!::read(go[0], &c, 1);
    _exit(run("c") ? 0 : 1);
  }
  (void)!write(go[1], "x", 1);
  const bool parent_ok = run("p");
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(parent_ok);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);

  ASSERT_EQ(VRK_ListObjects(s, &list, &count), 0);
  ASSERT_EQ(count, 2u * kEach);
  std::set<uint32_t> seen;
  for (const STO_SEOBJ& e : list.seobj_array) {
    if (e.ObjIndex == 0) continue;
    EXPECT_TRUE(seen.insert(e.ObjIndex).second);
    // Every object reads back (MAC intact) with the ID its entry names.
    const Bytes obj = read(e.ObjIndex);
    ASSERT_FALSE(obj.empty());
    const VRK_OBJECT_META m = meta_of(obj);
    EXPECT_EQ(std::memcmp(m.ObjId, e.ObjId, 16), 0);
    EXPECT_EQ(context_of(obj), bytes_of(reinterpret_cast<const char*>(e.ObjId)));
  }
}

const char* g_crash_step = nullptr;
void crash_at(const char* step) {
  if (std::strcmp(step, g_crash_step) == 0) _exit(42);
}

TEST_F(Persistency, CrashBetweenWritesLeavesAReadableStore) {
  const Bytes kept = make(kKinds[1], "kept", "kept", pattern(32, 1));
  const uint32_t a = save(kept);
  for (const char* step : {"object written", "list saved"}) {
    g_crash_step = step;
    const pid_t pid = fork();
    if (pid == 0) {
      swhsm::testing::set_store_step_hook(crash_at);
      Bytes obj = make(kKinds[0], "lost", "lost", pattern(8, 2));
      uint32_t idx = 0;
      VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx);
      VRK_DeleteObject(s, a);
      _exit(0);
    }
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 42);
  }
  // After the first crash the new object is unlisted; after the second the
  // new object is listed and the deletion of `a` is done or not at all.
  VRK_SEOBJ_LIST list;
  uint32_t count = 0;
  ASSERT_EQ(VRK_ListObjects(s, &list, &count), 0);
  for (const STO_SEOBJ& e : list.seobj_array) {
    if (e.ObjIndex == 0) continue;
    EXPECT_FALSE(read(e.ObjIndex).empty()) << e.ObjIndex;  // every listed object is whole
  }
  const uint32_t next = save(make(kKinds[0], "next", "next", pattern(8, 3)));
  EXPECT_FALSE(read(next).empty());
}

}  // namespace

namespace {

using namespace zt;

TEST_F(Persistency, ResetTokenWithAHoleInItsList) {
  std::vector<uint32_t> h;
  for (int i = 0; i < 3; ++i) h.push_back(save(make(kKinds[0], "d", "d", pattern(8, 1))));
  ASSERT_EQ(VRK_DeleteObject(s, h[0]), 0);  // entry 0 is free, entries 1 and 2 are used
  ASSERT_EQ(VRK_CloseTokenSession(s), 0u);
  VRK_HANDLE so = token_session(tkn);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(so, u8(kUserPin), len(kUserPin)), 0u);
  ASSERT_EQ(VRK_ResetToken(so), 0u);
  for (uint32_t idx : h) EXPECT_FALSE(std::filesystem::exists(token_dir() + std::to_string(idx) + ".obj"));
  EXPECT_FALSE(std::filesystem::exists(token_dir() + "objlist.cfg"));
  s = 0;
}

}  // namespace
