// The find state a session owns: matches gathered once when the find begins,
// handed out page by page; threads that race finds, closes and new finds on
// one session; and allocation failures in C_FindObjectsInit.
#include <pkcs11/ckr_names.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/fail_alloc.h"
#include "support/p11_module.h"

namespace zt {
namespace {

bool in_v30_table(CK_RV rv) { return rv <= CKR_OPERATION_CANCEL_FAILED && zeb::ckr_name(rv) != nullptr; }

// A search template by label (and, when given, CKA_TOKEN).
class ByLabel {
 public:
  explicit ByLabel(std::string label) : label_(std::move(label)) {}
  ByLabel& token(bool on) {
    token_ = on ? CK_TRUE : CK_FALSE;
    with_token_ = true;
    return *this;
  }
  // The entries, pointing into this template's own values.
  CK_ATTRIBUTE* attrs() {
    attrs_ = {{CKA_LABEL, label_.data(), label_.size()}};
    if (with_token_) attrs_.push_back({CKA_TOKEN, &token_, 1});
    return attrs_.data();
  }
  CK_ULONG count() const { return with_token_ ? 2 : 1; }

 private:
  std::string label_;
  CK_BBOOL token_ = CK_FALSE;
  bool with_token_ = false;
  std::vector<CK_ATTRIBUTE> attrs_;
};

class FindState : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    if (HasFatalFailure()) return;
    add_token();
    initialize();
    s = open();
    ASSERT_EQ(login(s), CKR_OK);
  }

  CK_OBJECT_HANDLE data_object(std::string label, bool token, CK_SESSION_HANDLE in = 0) {
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL tok = token ? CK_TRUE : CK_FALSE;
    std::string value = "value of " + label;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_TOKEN, &tok, 1},
                        {CKA_LABEL, label.data(), label.size()},
                        {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE h = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_CreateObject(in == 0 ? s : in, t, 4, &h), CKR_OK);
    return h;
  }

  // One C_FindObjects call of at most `max` handles.
  std::vector<CK_OBJECT_HANDLE> page(CK_ULONG max, CK_SESSION_HANDLE in = 0) {
    std::vector<CK_OBJECT_HANDLE> out(max + 1, CK_INVALID_HANDLE);
    CK_ULONG n = 0;
    EXPECT_EQ(p11->C_FindObjects(in == 0 ? s : in, out.data(), max, &n), CKR_OK);
    out.resize(n);
    return out;
  }

  // A whole find: every match, in the order handed out.
  std::vector<CK_OBJECT_HANDLE> find_all(ByLabel t) {
    EXPECT_EQ(p11->C_FindObjectsInit(s, t.attrs(), t.count()), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> all;
    for (std::vector<CK_OBJECT_HANDLE> p; !(p = page(2)).empty();) all.insert(all.end(), p.begin(), p.end());
    EXPECT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
    return all;
  }

  CK_SESSION_HANDLE s = 0;
};

// The matches are those of the moment the find began: objects made or
// destroyed meanwhile change the next find, not the running one.
TEST_F(FindState, MatchesAreGatheredWhenTheFindBegins) {
  const CK_OBJECT_HANDLE t1 = data_object("gathered", true);
  const CK_OBJECT_HANDLE s1 = data_object("gathered", false);
  const CK_OBJECT_HANDLE t2 = data_object("gathered", true);
  ByLabel t("gathered");
  ASSERT_EQ(p11->C_FindObjectsInit(s, t.attrs(), t.count()), CKR_OK);
  EXPECT_EQ(page(1), std::vector<CK_OBJECT_HANDLE>{t1});
  const CK_OBJECT_HANDLE later = data_object("gathered", false);
  EXPECT_EQ(page(8), (std::vector<CK_OBJECT_HANDLE>{t2, s1}));
  EXPECT_TRUE(page(8).empty());
  ASSERT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
  EXPECT_EQ(find_all(ByLabel("gathered")), (std::vector<CK_OBJECT_HANDLE>{t1, t2, s1, later}));
  EXPECT_EQ(find_all(ByLabel("gathered").token(false)), (std::vector<CK_OBJECT_HANDLE>{s1, later}));
  // A find replaced before its end starts again from the first match of the
  // new one; a session that logs out sees none, and finds again after a login.
  ASSERT_EQ(p11->C_FindObjectsInit(s, t.attrs(), t.count()), CKR_OK);
  ASSERT_EQ(page(3).size(), 3u);
  ByLabel only_token = ByLabel("gathered").token(true);
  ASSERT_EQ(p11->C_FindObjectsInit(s, only_token.attrs(), only_token.count()), CKR_OK);
  ASSERT_EQ(p11->C_Logout(s), CKR_OK);
  EXPECT_TRUE(page(8).empty());
  ASSERT_EQ(login(s), CKR_OK);
  EXPECT_EQ(page(8), (std::vector<CK_OBJECT_HANDLE>{t1, t2}));
  // Begun without the user, a find has no matches.
  ASSERT_EQ(p11->C_Logout(s), CKR_OK);
  ASSERT_EQ(p11->C_FindObjectsInit(s, t.attrs(), t.count()), CKR_OK);
  ASSERT_EQ(login(s), CKR_OK);
  EXPECT_TRUE(page(8).empty());
}

// Two threads misuse one session: one runs finds on it while the other runs
// finds, closes it and opens the next one in its place. Every call answers
// with a clean code, every handle found is one of the objects, and nothing
// is used after it was released (ASan, TSan).
TEST_F(FindState, ThreadsRacingFindCloseAndInitOnOneSession) {
  std::set<CK_OBJECT_HANDLE> objects;
  for (int i = 0; i < 3; ++i) objects.insert(data_object("racing", true));
  std::atomic<CK_SESSION_HANDLE> current{s};
  std::atomic<bool> done{false};
  std::atomic<int> bad_codes{0}, foreign_handles{0}, finds_with_matches{0};
  const auto check = [&](CK_RV rv) {
    if (rv != CKR_OK && rv != CKR_SESSION_HANDLE_INVALID) ++bad_codes;
  };
  const auto one_find = [&](CK_SESSION_HANDLE h) {
    ByLabel t("racing");
    check(p11->C_FindObjectsInit(h, t.attrs(), t.count()));
    CK_OBJECT_HANDLE found[2];
    CK_ULONG n = 0;
    const CK_RV rv = p11->C_FindObjects(h, found, 2, &n);
    check(rv);
    if (rv == CKR_OK) {
      for (CK_ULONG i = 0; i < n; ++i) foreign_handles += objects.count(found[i]) == 0;
      finds_with_matches += n > 0;
    }
  };
  std::thread finder([&] {
    while (!done.load()) {
      const CK_SESSION_HANDLE h = current.load();
      one_find(h);
      check(p11->C_FindObjectsFinal(h));
    }
  });
  for (int round = 0; round < 100; ++round) {
    const CK_SESSION_HANDLE h = current.load();
    one_find(h);
    check(p11->C_CloseSession(h));
    CK_SESSION_HANDLE next = 0;
    ASSERT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &next), CKR_OK);
    ASSERT_EQ(login(next), CKR_OK);
    current.store(next);
  }
  done.store(true);
  finder.join();
  EXPECT_EQ(bad_codes.load(), 0);
  EXPECT_EQ(foreign_handles.load(), 0);
  EXPECT_GT(finds_with_matches.load(), 0);
}

// An allocation that fails anywhere in C_FindObjectsInit ends it with a code
// of the table, keeps the find the session had, leaks nothing (ASan), and
// leaves the session usable.
TEST_F(FindState, AllocationFailureAtEachStepOfInitLeavesTheSessionUsable) {
  const CK_OBJECT_HANDLE t1 = data_object("kept", true);
  const CK_OBJECT_HANDLE s1 = data_object("kept", false);
  const CK_OBJECT_HANDLE other = data_object("other", true);
  ByLabel kept("kept");
  ByLabel by_other("other");
  CK_ATTRIBUTE* const other_attrs = by_other.attrs();  // built before allocations fail
  ASSERT_EQ(p11->C_FindObjectsInit(s, kept.attrs(), kept.count()), CKR_OK);
  ASSERT_EQ(page(1), std::vector<CK_OBJECT_HANDLE>{t1});
  const long runs = sweep_allocation_failures(
      [&] { return p11->C_FindObjectsInit(s, other_attrs, by_other.count()); },
      [&](CK_RV rv, bool failed) {
        if (!failed) {
          EXPECT_EQ(rv, CKR_OK);
          EXPECT_EQ(page(8), std::vector<CK_OBJECT_HANDLE>{other});
        } else if (rv != CKR_OK) {
          EXPECT_TRUE(in_v30_table(rv)) << std::hex << rv;
          // The find begun before goes on where it was.
          EXPECT_EQ(page(8), std::vector<CK_OBJECT_HANDLE>{s1});
        }
        EXPECT_EQ(find_all(ByLabel("kept")), (std::vector<CK_OBJECT_HANDLE>{t1, s1}));
        // The next round starts with a find that handed out its first match.
        ASSERT_EQ(p11->C_FindObjectsInit(s, kept.attrs(), kept.count()), CKR_OK);
        ASSERT_EQ(page(1), std::vector<CK_OBJECT_HANDLE>{t1});
      });
  EXPECT_GT(runs, 0);
}

}  // namespace
}  // namespace zt
