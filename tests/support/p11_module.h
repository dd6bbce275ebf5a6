// The PKCS#11 module as a client sees it: libzebp11.so loaded with dlopen and
// reached only through its function list, in a temporary working directory
// holding a software HSM made by scripts/new-swhsm.sh and tokens made by the
// zeb-make-token tool.
#pragma once

#include <gtest/gtest.h>
#include <pkcs11/pkcs11.h>

#include <memory>
#include <string>
#include <vector>

#include "support/testbed.h"
#include "support/workdir.h"

namespace zt {

inline constexpr char kP11AdminPin[] = "hsm-admin-pin-01";
inline constexpr char kP11HsmSn[] = "4711000000000042";
inline constexpr char kP11UserPin[] = "user-pin-1234";  // also the SO PIN of a new token

// Runs a program (no shell); returns its exit status and, in `out`, what it
// wrote on standard output.
int run_program(const std::vector<std::string>& argv, std::string* out = nullptr);

// Sets up a software HSM (serial number kP11HsmSn, administrator PIN
// kP11AdminPin) in `dir` with scripts/new-swhsm.sh.
void make_software_hsm(const std::string& dir);
// Makes a token on the software HSM of the working directory, through the
// core, with `pin` as its user and SO PIN (or, uninitialised, with the HSM's
// serial number as SO PIN); returns its ID.
std::string make_token(const std::string& pin = kP11UserPin, bool uninitialised = false);

// The loaded module, once per process.
class P11Module {
 public:
  static P11Module& get();
  // The list of the one "PKCS 11" interface (C_GetInterface).
  CK_FUNCTION_LIST_3_0* list() const { return list3_; }
  // The list C_GetFunctionList gives.
  CK_FUNCTION_LIST* list2() const { return list2_; }
  // A symbol the module exports, for the two ZEBP11_* names and the
  // interface queries; null when absent.
  void* symbol(const char* name) const;
  static const char* path();

 private:
  P11Module();
  void* handle_ = nullptr;
  CK_FUNCTION_LIST_3_0* list3_ = nullptr;
  CK_FUNCTION_LIST* list2_ = nullptr;
};

// Sets the module's log level through its exported setter.
void p11_set_log_level(int level);

// A fresh working directory with a software HSM; tokens are added with
// add_token() before the module is initialised. Initialises nothing itself;
// TearDown finalises the module when a test left it initialised.
//
// With ZEB_TESTBED naming the se_testbed program, the HSM is instead the
// secure-element test bed on 127.0.0.1:5566 (serial number kP11HsmSn,
// administrator PIN kP11AdminPin), started in the working directory and
// stopped after the test, so that the same tests run on both back ends.
class P11Test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Makes a token with `pin` as user and SO PIN (or, uninitialised, with the
  // HSM's serial number as SO PIN); returns its ID.
  std::string add_token(const std::string& pin = kP11UserPin, bool uninitialised = false);
  // C_Initialize with no arguments, expected to succeed.
  void initialize();
  // An open session on a slot, expected to succeed.
  CK_SESSION_HANDLE open(CK_SLOT_ID slot = 0, CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION);
  CK_RV login(CK_SESSION_HANDLE s, CK_USER_TYPE who = CKU_USER, const std::string& pin = kP11UserPin);
  CK_TOKEN_INFO token_info(CK_SLOT_ID slot = 0);
  CK_SESSION_INFO session_info(CK_SESSION_HANDLE s);

  WorkDir dir;
  std::unique_ptr<Testbed> testbed;  // only on the secure element
  CK_FUNCTION_LIST_3_0* p11 = nullptr;
};

// A PKCS#11 text field as a string without its blank padding.
std::string p11_text(const CK_UTF8CHAR* field, size_t width);
template <size_t N>
std::string p11_text(const CK_UTF8CHAR (&field)[N]) {
  return p11_text(field, N);
}
inline CK_UTF8CHAR_PTR p11_bytes(const std::string& s) {
  return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(s.data()));
}

}  // namespace zt
