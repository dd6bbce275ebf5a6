// HID readers, the device by path and the vendor's other reader. This
// stand-in drives no hardware: the HID list is always empty, and every open
// reports that no such device is there.
#include <sys/stat.h>

#include <new>

#include "trix/transport.h"

namespace {

void advance(io_info_list* list) {
  if (list != nullptr && list->curr != nullptr) list->curr = list->curr->next;
}

// Closing any record releases whatever transport an open bound to it.
int close_record(se_device_t* dev, int not_open) { return trix::detach(dev) == 0 ? 0 : not_open; }

}  // namespace

extern "C" {

io_info_list* tem44hid_list_new(void) { return new (std::nothrow) io_info_list{}; }

int tem44hid_list_init(io_info_list* list) {
  if (list == nullptr) return SE_ERROR_HID_LIST;
  list->root = nullptr;
  list->curr = nullptr;
  return 0;
}

int tem44hid_list_is_end(io_info_list* list) { return list == nullptr || list->curr == nullptr ? 1 : 0; }

void tem44hid_list_next(io_info_list* list) { advance(list); }
void ferrolux_list_next(io_info_list* list) { advance(list); }

void tem44hid_list_free(io_info_list* list) {
  if (list == nullptr) return;
  for (io_info_node* n = list->root; n != nullptr;) {
    io_info_node* next = n->next;
    delete n;
    n = next;
  }
  delete list;
}

int tem44hid_open(se_device_t* dev, const char* name) {
  if (dev == nullptr || name == nullptr) return SE_ERROR_INVALID_ARG;
  return SE_ERROR_HID_NOT_FOUND;
}

int tem44hid_close(se_device_t* dev) { return close_record(dev, SE_ERROR_HID_CLOSE); }

int talon_open(se_device_t* dev, const char* path) {
  if (dev == nullptr || path == nullptr) return SE_ERROR_INVALID_ARG;
  // An empty path means the library's default device, which is never there.
  if (path[0] == '\0') return SE_ERROR_NO_SUCH_DEVICE;
  struct stat st {};
  if (stat(path, &st) != 0) return SE_ERROR_NO_SUCH_DEVICE;
  return SE_ERROR_NOT_SUPPORT_IO;
}

int talon_close(se_device_t* dev) { return close_record(dev, SE_ERROR_CLOSE); }
int ferrolux_close(se_device_t* dev) { return close_record(dev, SE_ERROR_CLOSE); }

}  // extern "C"
