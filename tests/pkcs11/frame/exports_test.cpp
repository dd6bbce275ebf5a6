// Only the C ABI leaves libzebp11.so: the PKCS#11 v3.0 entry points, each in
// its place in the function list, and the two ZEBP11_* names.
#include <dlfcn.h>

#include <set>
#include <sstream>
#include <string>

#include "support/p11_module.h"

namespace zt {
namespace {

std::set<std::string> dynamic_symbols() {
  std::string out;
  EXPECT_EQ(run_program({"nm", "-D", "--defined-only", P11Module::path()}, &out), 0);
  std::set<std::string> names;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto space = line.rfind(' ');
    if (space != std::string::npos) names.insert(line.substr(space + 1));
  }
  return names;
}

// The names of the function list's entries, in order, as the module's
// symbol table names the functions they point to.
std::vector<std::string> function_list_names() {
  const CK_FUNCTION_LIST_3_0* list = P11Module::get().list();
  const auto* first = reinterpret_cast<void* const*>(&list->C_Initialize);
  const auto* end = reinterpret_cast<void* const*>(list + 1);
  std::vector<std::string> names;
  for (const auto* p = first; p < end; ++p) {
    Dl_info info{};
    EXPECT_NE(dladdr(*p, &info), 0);
    names.push_back(info.dli_sname ? info.dli_sname : "?");
  }
  return names;
}

TEST(Exports, OnlyTheCInterface) {
  const std::vector<std::string> list = function_list_names();
  ASSERT_EQ(list.size(), 92u);
  EXPECT_EQ(list.front(), "C_Initialize");
  EXPECT_EQ(list[68], "C_GetInterfaceList");
  EXPECT_EQ(list.back(), "C_MessageVerifyFinal");
  std::set<std::string> expected(list.begin(), list.end());
  EXPECT_EQ(expected.size(), 92u);
  expected.insert("ZEBP11_set_log_level");
  expected.insert("ZEBP11_log_level");
  EXPECT_EQ(dynamic_symbols(), expected);
}

TEST(Exports, EachEntryPointUnderItsName) {
  for (const std::string& name : function_list_names()) {
    EXPECT_NE(P11Module::get().symbol(name.c_str()), nullptr) << name;
  }
  EXPECT_NE(P11Module::get().symbol("ZEBP11_log_level"), nullptr);
  EXPECT_EQ(*static_cast<int*>(P11Module::get().symbol("ZEBP11_log_level")), 5);
}

}  // namespace
}  // namespace zt
