// Store middleware over a scripted device: objects in 768-byte parts with the
// closing part, the index mapping, length checks before anything is sent or
// copied, and no partial object left by a failed create.
#include "scripted_device.h"
#include "se/middleware.h"

namespace {

using namespace semw;
namespace sto = se::cmd::sto;

class StoreMw : public ScriptedDevice {
 protected:
  void SetUp() override {
    ScriptedDevice::SetUp();
    in.hSession = 0x0A0B0C0D;
    std::memset(in.HsmSn, 'S', 16);
    std::memset(in.TknId, 'T', 16);
    std::memset(&entry, 0, sizeof entry);
    std::memset(entry.ObjLabel, 'L', sizeof entry.ObjLabel);
  }
  Bytes input() const { return bytes_of(in); }
  Bytes entry_bytes() const { return bytes_of(entry); }

  PERSISTENCY_INPUT in{};
  STO_SEOBJ entry{};
};

TEST_F(StoreMw, CreateInPartsWithTheClosingPart) {
  Bytes obj = fill(769, 0x0B);
  entry.u32DataLen = 769 - 128;
  const Bytes e = entry_bytes();
  expect(sto::CreateObjectPart, cat({input(), arr(fill(768, 0x0B)), e, {0}}), le32(0));
  expect(sto::CreateObjectPart, cat({input(), arr({0x0B}), e, {1}}), le32(0));
  expect(sto::CreateObjectPart, cat({input(), le16(0), e, {0xFF}}), le32(0));
  uint32_t index = 0;
  ASSERT_EQ(FWSto_CreateObject_mw(&in, &index, obj.data(), 769, &entry), 0u);
  EXPECT_EQ(index, 1u);  // device slot 0
}

TEST_F(StoreMw, UpdateNamesTheDeviceSlot) {
  Bytes obj = fill(768, 0x0C);
  entry.u32DataLen = 640;
  const Bytes e = entry_bytes();
  expect(sto::UpdateObjectPart, cat({input(), le32(4), arr(obj), e, {0}}));
  expect(sto::UpdateObjectPart, cat({input(), le32(4), le16(0), e, {0xFF}}));
  EXPECT_EQ(FWSto_UpdateObject_mw(&in, 5, obj.data(), 768, &entry), 0u);
}

// Only data length + 128 is an object; D + 124 and D + 127 are refused
// before any command.
TEST_F(StoreMw, LengthRuleBeforeAnyCommand) {
  Bytes obj(400);
  uint32_t index = 0;
  for (uint32_t extra : {124u, 127u, 129u}) {
    entry.u32DataLen = 400 - extra;
    EXPECT_EQ(FWSto_CreateObject_mw(&in, &index, obj.data(), 400, &entry), 0x13u) << extra;
    EXPECT_EQ(FWSto_UpdateObject_mw(&in, 1, obj.data(), 400, &entry), 0x13u) << extra;
  }
  entry.u32DataLen = 0xFFFFFFF0;  // D + 128 overflows 32 bits
  EXPECT_EQ(FWSto_CreateObject_mw(&in, &index, obj.data(), 0x70, &entry), 0x13u);
  EXPECT_EQ(sent(), 0u);
}

// Core index 0 names no slot; it is never sent as 0xFFFFFFFF.
TEST_F(StoreMw, IndexZeroIsRefused) {
  uint32_t size = 0;
  uint8_t buf[8];
  uint32_t len = sizeof buf;
  Bytes obj(128);
  entry.u32DataLen = 0;
  EXPECT_EQ(FWSto_DeleteObject_mw(&in, 0), 0x07u);
  EXPECT_EQ(FWSto_GetObjectSize_mw(&in, 0, &size), 0x07u);
  EXPECT_EQ(FWSto_GetObject_mw(&in, 0, buf, &len), 0x07u);
  EXPECT_EQ(FWSto_UpdateObject_mw(&in, 0, obj.data(), 128, &entry), 0x07u);
  EXPECT_EQ(FWSto_DeleteObject_mw(&in, 513), 0x07u);
  EXPECT_EQ(sent(), 0u);
  expect(sto::DeleteObject, cat({input(), le32(0)}));
  EXPECT_EQ(FWSto_DeleteObject_mw(&in, 1), 0u);
}

// A create that fails after the device took a slot deletes what it wrote.
TEST_F(StoreMw, FailedCreateRemovesThePartialObject) {
  Bytes obj = fill(900, 0x0D);
  entry.u32DataLen = 900 - 128;
  const Bytes e = entry_bytes();
  expect(sto::CreateObjectPart, cat({input(), arr(fill(768, 0x0D)), e, {0}}), le32(6));
  expect_code(sto::CreateObjectPart, cat({input(), arr(fill(132, 0x0D)), e, {1}}), 0x1B0);
  expect(sto::DeleteObject, cat({input(), le32(6)}));
  uint32_t index = 0xAA;
  EXPECT_EQ(quietly([&] { return FWSto_CreateObject_mw(&in, &index, obj.data(), 900, &entry); }), 0x1B0u);
  EXPECT_EQ(index, 0xAAu);
  // A failure at part 0 took no slot: nothing to delete.
  expect_code(sto::CreateObjectPart, cat({input(), arr(fill(768, 0x0D)), e, {0}}), 0x1B0);
  EXPECT_EQ(quietly([&] { return FWSto_CreateObject_mw(&in, &index, obj.data(), 900, &entry); }), 0x1B0u);
}

// A pair: the first object's data parts, the second's, then one closing
// part (the device commits both with it).
TEST_F(StoreMw, PairSendsBothDataStreamsThenOneClosingPart) {
  Bytes first = fill(800, 0x21), second = fill(200, 0x22);
  STO_SEOBJ second_entry = entry;
  entry.u32DataLen = 800 - 128;
  second_entry.u32DataLen = 200 - 128;
  second_entry.ObjType = 4;
  const Bytes e1 = entry_bytes(), e2 = bytes_of(second_entry);
  expect(sto::CreateObjectPart, cat({input(), arr(fill(768, 0x21)), e1, {0}}), le32(3));
  expect(sto::CreateObjectPart, cat({input(), arr(fill(32, 0x21)), e1, {1}}), le32(3));
  expect(sto::CreateObjectPart, cat({input(), arr(second), e2, {0}}), le32(4));
  expect(sto::CreateObjectPart, cat({input(), le16(0), e2, {0xFF}}), le32(4));
  uint32_t a = 0, b = 0;
  ASSERT_EQ(FWSto_CreateObjectPair_mw(&in, first.data(), 800, &entry, second.data(), 200, &second_entry, &a, &b), 0u);
  EXPECT_EQ(a, 4u);
  EXPECT_EQ(b, 5u);
}

// A pair that fails takes back the slots the device gave; the indexes are
// not written. The length rule is checked for both before anything is sent.
TEST_F(StoreMw, FailedPairTakesBackBothSlots) {
  Bytes first = fill(300, 0x31), second = fill(200, 0x32);
  STO_SEOBJ second_entry = entry;
  entry.u32DataLen = 300 - 128;
  second_entry.u32DataLen = 200 - 127;
  uint32_t a = 0xAA, b = 0xBB;
  EXPECT_EQ(FWSto_CreateObjectPair_mw(&in, first.data(), 300, &entry, second.data(), 200, &second_entry, &a, &b),
            0x13u);
  EXPECT_EQ(sent(), 0u);
  second_entry.u32DataLen = 200 - 128;
  const Bytes e1 = entry_bytes(), e2 = bytes_of(second_entry);
  expect(sto::CreateObjectPart, cat({input(), arr(first), e1, {0}}), le32(0));
  expect(sto::CreateObjectPart, cat({input(), arr(second), e2, {0}}), le32(1));
  expect_code(sto::CreateObjectPart, cat({input(), le16(0), e2, {0xFF}}), 0x06);
  expect(sto::DeleteObject, cat({input(), le32(1)}));
  expect(sto::DeleteObject, cat({input(), le32(0)}));
  EXPECT_EQ(quietly([&] {
              return FWSto_CreateObjectPair_mw(&in, first.data(), 300, &entry, second.data(), 200, &second_entry, &a,
                                               &b);
            }),
            0x06u);
  EXPECT_EQ(a, 0xAAu);
  EXPECT_EQ(b, 0xBBu);
  // The second's first part refused: only the first's slot to take back.
  expect(sto::CreateObjectPart, cat({input(), arr(first), e1, {0}}), le32(2));
  expect_code(sto::CreateObjectPart, cat({input(), arr(second), e2, {0}}), 0x06);
  expect(sto::DeleteObject, cat({input(), le32(2)}));
  EXPECT_EQ(quietly([&] {
              return FWSto_CreateObjectPair_mw(&in, first.data(), 300, &entry, second.data(), 200, &second_entry, &a,
                                               &b);
            }),
            0x06u);
}

TEST_F(StoreMw, ReadInPartsWithinTheCallersRoom) {
  expect(sto::GetObjectSize, cat({input(), le32(2)}), le32(800));
  expect(sto::GetObjectPart, cat({input(), le32(2), {0}}), arr(fill(768, 1)));
  expect(sto::GetObjectPart, cat({input(), le32(2), {1}}), arr(fill(32, 2)));
  Bytes buf(1000);
  uint32_t len = 1000;
  ASSERT_EQ(FWSto_GetObject_mw(&in, 3, buf.data(), &len), 0u);
  EXPECT_EQ(len, 800u);
  EXPECT_EQ(Bytes(buf.begin() + 760, buf.begin() + 800), cat({fill(8, 1), fill(32, 2)}));
  // Room below the size: the size comes back, nothing is read.
  expect(sto::GetObjectSize, cat({input(), le32(2)}), le32(800));
  len = 799;
  EXPECT_EQ(FWSto_GetObject_mw(&in, 3, buf.data(), &len), 0x150u);
  EXPECT_EQ(len, 800u);
  // A part running past the size is refused; parts falling short give 5.
  expect(sto::GetObjectSize, cat({input(), le32(2)}), le32(100));
  expect(sto::GetObjectPart, cat({input(), le32(2), {0}}), arr(fill(101, 1)));
  len = 1000;
  EXPECT_EQ(quietly([&] { return FWSto_GetObject_mw(&in, 3, buf.data(), &len); }), SE_ERR_SERIALIZER);
  expect(sto::GetObjectSize, cat({input(), le32(2)}), le32(100));
  expect(sto::GetObjectPart, cat({input(), le32(2), {0}}), arr(fill(99, 1)));
  EXPECT_EQ(FWSto_GetObject_mw(&in, 3, buf.data(), &len), 0x05u);
  // Size 0: no part command.
  expect(sto::GetObjectSize, cat({input(), le32(2)}), le32(0));
  EXPECT_EQ(FWSto_GetObject_mw(&in, 3, buf.data(), &len), 0u);
  EXPECT_EQ(len, 0u);
}

TEST_F(StoreMw, ListFromTheOccupancyPage) {
  auto list = std::make_unique<STO_SEOBJ_LIST>();
  std::memset(list.get(), 0, sizeof *list);
  Bytes page(256, 0);
  page[1] = 0x01;  // slot 8
  STO_SEOBJ e{};
  e.ObjIndex = 0x77;
  e.u32DataLen = 12;
  expect(sto::GetOccupancyPage, input(), arr(page));
  expect(sto::GetObjectEntries, cat({input(), le32(8), le32(9)}), arr(bytes_of(e)));
  ASSERT_EQ(FWSto_LoadObjectList_mw(&in, list.get()), 0u);
  EXPECT_EQ(list->ObjNum, 1u);
  EXPECT_EQ(list->seobj_array[8].ObjIndex, 9u);
  EXPECT_EQ(list->seobj_array[8].u32DataLen, 12u);
  EXPECT_EQ(list->seobj_array[0].ObjIndex, 0u);
}

// Wrong lengths are found before anything reaches the caller's list.
TEST_F(StoreMw, ListLengthsCheckedFirst) {
  auto list = std::make_unique<STO_SEOBJ_LIST>();
  std::memset(list.get(), 0, sizeof *list);
  for (size_t n : {255u, 257u}) {
    expect(sto::GetOccupancyPage, input(), arr(fill(n, 0xFF)));
    EXPECT_EQ(FWSto_LoadObjectList_mw(&in, list.get()), 0x05u) << n;
  }
  Bytes page(256, 0);
  page[0] = 0x01;
  expect(sto::GetOccupancyPage, input(), arr(page));
  expect(sto::GetObjectEntries, cat({input(), le32(0), le32(1)}), arr(fill(81, 0xEE)));
  EXPECT_EQ(FWSto_LoadObjectList_mw(&in, list.get()), 0x05u);
  const auto* raw = reinterpret_cast<const uint8_t*>(list.get());
  EXPECT_EQ(Bytes(raw, raw + 96), Bytes(96, 0)) << "the list was written";
  // An all-zero page: no entry commands.
  expect(sto::GetOccupancyPage, input(), arr(Bytes(256, 0)));
  EXPECT_EQ(FWSto_LoadObjectList_mw(&in, list.get()), 0u);
  EXPECT_EQ(list->ObjNum, 0u);
}

TEST_F(StoreMw, PassThroughCommands) {
  STO_LAYOUT a{}, b{};
  std::memset(&a, 0x1A, sizeof a);
  uint8_t status = 0;
  expect(sto::GetStorageInfo, input(), cat({{3}, bytes_of(a), fill(136, 0x2B)}));
  ASSERT_EQ(FWSto_GetStorageInfo_mw(&in, &status, &a, &b), 0u);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(bytes_of(b), fill(136, 0x2B));
  expect(sto::SetLayout, cat({input(), bytes_of(a)}), fill(136, 0x3C));
  ASSERT_EQ(FWSto_SetLayout_mw(&in, &a, &b), 0u);
  expect(sto::CreateTokenStorage, input());
  EXPECT_EQ(FWSto_CreateTokenStorage_mw(&in), 0u);
  expect(sto::DeleteObjList, input());
  EXPECT_EQ(FWSto_DeleteObjList_mw(&in), 0u);
  expect(sto::DeleteObjDir, input());
  EXPECT_EQ(FWSto_DeleteObjDir_mw(&in), 0u);
  EXPECT_EQ(FWSto_Initialize_mw(nullptr), 0u);
  EXPECT_EQ(FWSto_SaveObjectList_mw(&in, nullptr), 0u);
  EXPECT_EQ(fwstore_functions.func_type, FWStore_FUNCTIONS);
  EXPECT_EQ(fwstore_functions.S_LoadObjectList, &FWSto_LoadObjectList_mw);
}

}  // namespace
