// HSM discovery over stand-in HID devices and a stand-in test bed: devices
// that do not open or do not answer are skipped (the others stay listed),
// a close that keeps failing does not hold the walk, the list is freed, and
// the test bed comes last with type 8.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "se/channel.h"
#include "se/commands.h"
#include "se/discovery.h"
#include "se/middleware.h"
#include "trix/transport.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct FakeDevice {
  bool opens = true;
  bool answers = true;
  bool close_fails = false;
  uint8_t type = ZEB_DEVICE_HSM_TYPE_QUILLSTAR;
  uint8_t tag = 0;  // serial and label bytes
};

struct World {
  std::vector<FakeDevice> hid;
  bool testbed = false;
  bool testbed_answers = true;
  int lists_made = 0;
  int lists_freed = 0;
  int closes = 0;
  int console_opens = 0;
  int console_closes = 0;
  std::vector<se_device_t> left_open;  // records a failing close kept
};
World* g_world = nullptr;

Bytes info_reply(uint8_t type, uint8_t tag) {
  ZEB_DEVICE_HSM_INFO info{};
  info.HsmType = type;
  std::memset(info.HsmSn, tag, sizeof info.HsmSn);
  std::memset(info.HsmLabel, tag + 1, sizeof info.HsmLabel);
  Bytes data(sizeof info);
  std::memcpy(data.data(), &info, sizeof info);
  return trix::make_reply(data, 0x9000);
}

Bytes info_request() {
  return trix::make_command(0x86, se::cmd::dev::GetHsmInfo.ins, 0, 0, 0, 0, {0, 0, 0, 0});
}

void script_device(se_device_t* dev, bool answers, uint8_t type, uint8_t tag) {
  trix::ScriptedTransport* s = trix::attach_scripted(dev);
  if (answers) {
    s->expect(info_request(), info_reply(type, tag));
  } else {
    s->expect(info_request(), trix::make_reply({0x30, 0, 0, 0}, 0x66DD));
  }
}

io_info_list* list_new() {
  ++g_world->lists_made;
  return new io_info_list{};
}
int list_init(io_info_list* l) {
  io_info_node** tail = &l->root;
  for (size_t i = 0; i < g_world->hid.size(); ++i) {
    auto* n = new io_info_node{};
    std::snprintf(n->name, sizeof n->name, "%zu", i);
    *tail = n;
    tail = &n->next;
  }
  l->curr = l->root;
  return 0;
}
int list_is_end(io_info_list* l) { return l->curr == nullptr ? 1 : 0; }
void list_next(io_info_list* l) { l->curr = l->curr->next; }
void list_free(io_info_list* l) {
  ++g_world->lists_freed;
  tem44hid_list_free(l);
}
int hid_open(se_device_t* dev, const char* name) {
  const FakeDevice& d = g_world->hid.at(std::stoul(name));
  if (!d.opens) return SE_ERROR_HID_OPEN;
  script_device(dev, d.answers, d.type, d.tag);
  dev->fs = const_cast<FakeDevice*>(&d);
  return 0;
}
int hid_close(se_device_t* dev) {
  ++g_world->closes;
  const auto* d = static_cast<const FakeDevice*>(dev->fs);
  if (d != nullptr && d->close_fails) {
    // The record stays open; the test releases it.
    bool known = false;
    for (const se_device_t& r : g_world->left_open) known |= r.handle == dev->handle;
    if (!known) g_world->left_open.push_back(*dev);
    return SE_ERROR_HID_CLOSE;
  }
  return trix::detach(dev) == 0 ? 0 : SE_ERROR_HID_CLOSE;
}
int console_open(se_device_t* dev, const char* addr, int port) {
  EXPECT_STREQ(addr, "127.0.0.1");
  EXPECT_EQ(port, 5566);
  if (!g_world->testbed) return SE_CONSOLE_ERROR_CONNECT_SERVER;
  ++g_world->console_opens;
  script_device(dev, g_world->testbed_answers, ZEB_DEVICE_HSM_TYPE_QUILLSTAR, 0x70);
  return 0;
}
int console_close(se_device_t* dev) {
  ++g_world->console_closes;
  return trix::detach(dev);
}

constexpr SeDiscoveryOps kFake = {list_new, list_init, list_is_end, list_next, list_free,
                                  hid_open, hid_close, console_open, console_close};

class Discovery : public testing::Test {
 protected:
  void SetUp() override {
    g_world = &world;
    se_discovery_set_ops(&kFake);
  }
  void TearDown() override {
    se_discovery_set_ops(nullptr);
    g_world = nullptr;
    for (se_device_t& d : world.left_open) (void)trix::detach(&d);
  }
  uint32_t list(uint32_t room) {
    testing::internal::CaptureStderr();
    const uint32_t rv = FWD_ListHSMs(types, &sns[0][0], &labels[0][0], room, &count);
    (void)testing::internal::GetCapturedStderr();
    return rv;
  }
  World world;
  uint8_t types[10] = {};
  uint8_t sns[10][16] = {};
  uint8_t labels[10][32] = {};
  uint32_t count = 99;
};

TEST_F(Discovery, NothingThere) {
  EXPECT_EQ(list(10), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(world.lists_freed, world.lists_made);
}

TEST_F(Discovery, DevicesThenTheTestBed) {
  world.hid = {FakeDevice{.type = 5, .tag = 0x11}, FakeDevice{.type = 7, .tag = 0x22}};
  world.testbed = true;
  EXPECT_EQ(list(10), 0u);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(types[0], 5);
  EXPECT_EQ(types[1], 7);
  EXPECT_EQ(types[2], ZEB_DEVICE_HSM_TYPE_TESTBED);  // whatever the test bed reports
  EXPECT_EQ(sns[1][0], 0x22);
  EXPECT_EQ(labels[1][31], 0x23);
  EXPECT_EQ(sns[2][15], 0x70);
  EXPECT_EQ(world.console_closes, world.console_opens);
  EXPECT_EQ(world.lists_freed, 1);
  EXPECT_EQ(trix::transport_of(&gl_device), nullptr) << "discovery left a device in the current record";
}

// One device that does not answer is skipped; the walk goes on and counts.
TEST_F(Discovery, ASilentDeviceDoesNotDropTheOthers) {
  world.hid = {FakeDevice{.tag = 1}, FakeDevice{.answers = false}, FakeDevice{.opens = false},
               FakeDevice{.tag = 4}};
  EXPECT_EQ(list(10), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(sns[0][0], 1);
  EXPECT_EQ(sns[1][0], 4);
  EXPECT_EQ(world.lists_freed, 1);
}

// A device whose close keeps failing is tried a bounded number of times.
TEST_F(Discovery, AFailingCloseDoesNotHoldTheWalk) {
  world.hid = {FakeDevice{.close_fails = true, .tag = 1}, FakeDevice{.tag = 2}};
  EXPECT_EQ(list(10), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(world.closes, SE_DISCOVERY_CLOSE_TRIES + 1);
}

TEST_F(Discovery, RoomLimits) {
  world.testbed = true;
  world.hid.assign(9, FakeDevice{.tag = 9});
  EXPECT_EQ(list(10), 0u);
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(types[9], ZEB_DEVICE_HSM_TYPE_TESTBED);
  // Full before the probe: the probe reports the full list.
  world.hid.assign(10, FakeDevice{.tag = 9});
  count = 10;
  uint32_t n = 10;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Testbed_Hsm_ListHSMs(types, &sns[0][0], &labels[0][0], 10, &n), SE_ERR_HSM_LIST_FULL);
  (void)testing::internal::GetCapturedStderr();
  EXPECT_EQ(list(10), 0u);
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(types[9], 5);
}

TEST_F(Discovery, ASilentTestBedAddsNothing) {
  world.hid = {FakeDevice{.tag = 1}};
  world.testbed = true;
  world.testbed_answers = false;
  EXPECT_EQ(list(10), 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(world.console_closes, 1);
}

// The record this process has open is put back after the walk.
TEST_F(Discovery, TheCurrentDeviceSurvives) {
  se_device_t mine{};
  ASSERT_NE(trix::attach_scripted(&mine), nullptr);
  gl_device = mine;
  world.hid = {FakeDevice{.tag = 1}};
  EXPECT_EQ(list(10), 0u);
  EXPECT_EQ(gl_device.handle, mine.handle);
  gl_device = se_device_t{};
  (void)trix::detach(&mine);
}

}  // namespace
