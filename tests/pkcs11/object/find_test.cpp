// Find operations through the loaded module: filters on every attribute the
// read-out answers, the empty template, paging, and what stays hidden.
#include <algorithm>

#include "pkcs11/object/object_fixture.h"

namespace zt {
namespace {

class Find : public ObjectTest {
 protected:
  void SetUp() override {
    ObjectTest::SetUp();
    if (HasFatalFailure()) return;
    Tmpl a = data_object("alpha", b("one"), true);
    a.text(CKA_ID, "A");
    Tmpl bt = data_object("beta", b("two"), false);
    bt.text(CKA_ID, "B");
    Tmpl k = aes_object(Bytes(16, 5), true);
    k.flag(CKA_SIGN, false);
    ec = ec_key("P-256");
    Tmpl q = ec_public(ec.get(), NID_X9_62_prime256v1);
    data_tok = made(a);
    data_ses = made(bt);
    aes = made(k);
    ecpub = made(q);
  }

  static std::vector<CK_OBJECT_HANDLE> sorted(std::vector<CK_OBJECT_HANDLE> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  Pkey ec;
  CK_OBJECT_HANDLE data_tok = 0, data_ses = 0, aes = 0, ecpub = 0;
};

TEST_F(Find, EmptyTemplateFindsEveryObjectTokenObjectsFirst) {
  Tmpl none;
  const auto all = find(none);
  EXPECT_EQ(all, (std::vector<CK_OBJECT_HANDLE>{data_tok, aes, data_ses, ecpub}));
  // A null template with a count of 0 is the same search.
  ASSERT_EQ(p11->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  CK_OBJECT_HANDLE h[8];
  CK_ULONG n = 0;
  ASSERT_EQ(p11->C_FindObjects(s, h, 8, &n), CKR_OK);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
  EXPECT_EQ(p11->C_FindObjectsInit(s, nullptr, 1), CKR_ARGUMENTS_BAD);
}

TEST_F(Find, PagesHandOutEachMatchOnce) {
  Tmpl none;
  const auto one_by_one = find(none, 1);
  EXPECT_EQ(one_by_one.size(), 4u);
  const auto by_three = find(none, 3);
  EXPECT_EQ(by_three, one_by_one);
  ASSERT_EQ(p11->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  CK_OBJECT_HANDLE h[4];
  CK_ULONG n = 9;
  EXPECT_EQ(p11->C_FindObjects(s, h, 0, &n), CKR_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(p11->C_FindObjects(s, h, 4, &n), CKR_OK);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(p11->C_FindObjects(s, h, 4, &n), CKR_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(p11->C_FindObjects(s, nullptr, 4, &n), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
}

TEST_F(Find, FiltersOnEveryAttributeTheObjectsAnswer) {
  const Bytes point = der_octet_string(ec_point(ec.get()));
  struct Case {
    const char* name;
    Tmpl t;
    std::vector<CK_OBJECT_HANDLE> want;
  };
  std::vector<Case> cases;
  const auto add = [&](const char* name, Tmpl t, std::vector<CK_OBJECT_HANDLE> want) {
    cases.push_back({name, std::move(t), std::move(want)});
  };
  add("class", Tmpl().ulong(CKA_CLASS, CKO_DATA), {data_tok, data_ses});
  add("key type", Tmpl().ulong(CKA_KEY_TYPE, CKK_AES), {aes});
  add("token true", Tmpl().flag(CKA_TOKEN, true), {data_tok, aes});
  add("token false", Tmpl().flag(CKA_TOKEN, false), {data_ses, ecpub});
  add("label", Tmpl().text(CKA_LABEL, "alpha"), {data_tok});
  add("label prefix", Tmpl().text(CKA_LABEL, "alph"), {});
  add("id", Tmpl().text(CKA_ID, "B"), {data_ses});
  add("value", Tmpl().text(CKA_VALUE, "two"), {data_ses});
  // The EC public key names no usage: it has its class's (encrypt among them).
  add("encrypt", Tmpl().flag(CKA_ENCRYPT, true), {aes, ecpub});
  add("sign false", Tmpl().flag(CKA_SIGN, false).ulong(CKA_CLASS, CKO_SECRET_KEY), {aes});
  add("value len", Tmpl().ulong(CKA_VALUE_LEN, 16), {aes});
  add("ec point", Tmpl().bytes(CKA_EC_POINT, point), {ecpub});
  add("ec params", Tmpl().bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1)), {ecpub});
  add("class and label disagree", Tmpl().ulong(CKA_CLASS, CKO_SECRET_KEY).text(CKA_LABEL, "alpha"), {});
  add("two labels", Tmpl().text(CKA_LABEL, "alpha").text(CKA_LABEL, "beta"), {});
  add("unknown attribute", Tmpl().text(CKA_VENDOR_DEFINED | 9, "x"), {});
  add("modulus", Tmpl().bytes(CKA_MODULUS, Bytes(256, 1)), {});
  for (auto& c : cases) {
    EXPECT_EQ(sorted(find(c.t)), sorted(c.want)) << c.name;
  }
  // A sensitive value matches nothing, not even itself.
  Tmpl secret = aes_object(Bytes(32, 8), false, true);
  made(secret);
  Tmpl by_value;
  by_value.bytes(CKA_VALUE, Bytes(32, 8));
  EXPECT_TRUE(find(by_value).empty());
}

TEST_F(Find, ExtensionWordsOfSessionObjectsAreNotObjects) {
  // Every session object keeps its extension word in a session object of
  // the core, in the slot after it.
  for (CK_OBJECT_HANDLE h : {data_ses, ecpub}) {
    const CK_OBJECT_HANDLE ext = h + 1;
    CK_ATTRIBUTE a{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(p11->C_GetAttributeValue(s, ext, &a, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(p11->C_DestroyObject(s, ext), CKR_OBJECT_HANDLE_INVALID);
    CK_ULONG size = 0;
    EXPECT_EQ(p11->C_GetObjectSize(s, ext, &size), CKR_OBJECT_HANDLE_INVALID);
  }
  Tmpl data;
  data.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, false);
  EXPECT_EQ(find(data), std::vector<CK_OBJECT_HANDLE>{data_ses});
  EXPECT_EQ(attr(data_ses, CKA_VALUE), b("two"));  // the object itself is whole
}

TEST_F(Find, NothingIsFoundWithoutTheUserAndFindsBelongToTheirSession) {
  const CK_SESSION_HANDLE other = open();
  Tmpl none;
  EXPECT_TRUE(find(none, 10, other).empty());
  ASSERT_EQ(login(other), CKR_OK);
  // Session objects belong to the session that made them.
  EXPECT_EQ(find(none, 10, other), (std::vector<CK_OBJECT_HANDLE>{data_tok, aes}));
  // A find in one session leaves the other's alone; a new init restarts.
  ASSERT_EQ(p11->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  ASSERT_EQ(p11->C_FindObjectsInit(other, nullptr, 0), CKR_OK);
  CK_OBJECT_HANDLE h[8];
  CK_ULONG n = 0;
  ASSERT_EQ(p11->C_FindObjects(s, h, 2, &n), CKR_OK);
  ASSERT_EQ(p11->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  ASSERT_EQ(p11->C_FindObjects(s, h, 8, &n), CKR_OK);
  EXPECT_EQ(n, 4u);
  ASSERT_EQ(p11->C_FindObjects(other, h, 8, &n), CKR_OK);
  EXPECT_EQ(n, 2u);
  // Closing a session with a find in progress releases it.
  EXPECT_EQ(p11->C_CloseSession(other), CKR_OK);
  EXPECT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
  EXPECT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
  EXPECT_EQ(p11->C_FindObjects(s, h, 8, &n), CKR_OK);
  EXPECT_EQ(n, 0u);
}

TEST_F(Find, WrongWidthsAndNullValuesAreRefusedAtInit) {
  const uint32_t four = CKO_DATA;
  CK_ATTRIBUTE narrow{CKA_CLASS, const_cast<uint32_t*>(&four), 4};
  EXPECT_EQ(p11->C_FindObjectsInit(s, &narrow, 1), CKR_ATTRIBUTE_VALUE_INVALID);
  CK_ATTRIBUTE null_value{CKA_LABEL, nullptr, 3};
  EXPECT_EQ(p11->C_FindObjectsInit(s, &null_value, 1), CKR_ARGUMENTS_BAD);
}

TEST_F(Find, FiveHundredTokenObjectsAreAllFound) {
  for (int i = 0; i < 500; ++i) {
    Tmpl t = data_object("bulk" + std::to_string(i), b("v"), true);
    t.text(CKA_ID, "bulk");
    made(t);
  }
  Tmpl by_id;
  by_id.text(CKA_ID, "bulk");
  EXPECT_EQ(find(by_id, 64).size(), 500u);
  Tmpl one;
  one.text(CKA_LABEL, "bulk321");
  EXPECT_EQ(find(one).size(), 1u);
}

}  // namespace
}  // namespace zt
