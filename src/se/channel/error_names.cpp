// Names of the access library's codes -190 .. -1.
#include <array>
#include <string_view>

#include "se/channel.h"

namespace {

constexpr std::array<const char*, 190> kNames = {
#define TRIX_ERROR_NAME(name) #name,
    TRIX_ERROR_LIST(TRIX_ERROR_NAME)
#undef TRIX_ERROR_NAME
};
static_assert(std::string_view(kNames[0]) == "SE_ERROR_WRONG_RECIPIENTS");
static_assert(std::string_view(kNames[190 - 23]) == "SE_ERROR_UNEXPECTED_RESPONSE");
static_assert(std::string_view(kNames[189]) == "SE_ERROR_HID_TX");

}  // namespace

extern "C" const char* libtrix_error_to_string(int error) {
  if (error < -190 || error > -1) return "";
  return kNames[static_cast<size_t>(error + 190)];
}
