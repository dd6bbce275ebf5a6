// A lost or damaged object list never leads to an object file being written
// over: numbering starts above the highest object file present. A missing
// list used to be recreated empty and an ObjSeq damaged to 0 restarted the
// sequence, so the next saves replaced 1.obj, 2.obj, ...
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "swhsm/store/store_fixture.h"
#include "swhsm/testing.h"

namespace stt {
namespace {

class StoreSequence : public Store {
 protected:
  void make_two() {
    uint32_t i = 0;
    ASSERT_EQ(create("first", "a", &i), STO_OK);
    ASSERT_EQ(create("second", "b", &i), STO_OK);
    ASSERT_EQ(i, 2u);
  }
  void expect_kept() {
    EXPECT_EQ(zt::read_file(dir() + "1.obj"), "first");
    EXPECT_EQ(zt::read_file(dir() + "2.obj"), "second");
  }
};

TEST_F(StoreSequence, MissingListNumbersAboveTheObjectFiles) {
  make_two();
  ASSERT_EQ(std::remove((dir() + "objlist.cfg").c_str()), 0);
  swhsm::testing::clear_store_cache();
  uint32_t i = 0;
  ASSERT_EQ(create("third", "c", &i), STO_OK);
  EXPECT_EQ(i, 3u);
  expect_kept();
  EXPECT_EQ(zt::read_file(dir() + "3.obj"), "third");
}

TEST_F(StoreSequence, SequenceDamagedToZeroNumbersAboveTheObjectFiles) {
  make_two();
  {
    // ObjSeq is the list file's last word.
    std::fstream f(dir() + "objlist.cfg", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offsetof(STO_SEOBJ_LIST, ObjSeq));
    const uint32_t zero = 0;
    f.write(reinterpret_cast<const char*>(&zero), sizeof zero);
  }
  swhsm::testing::clear_store_cache();
  uint32_t i = 0;
  ASSERT_EQ(create("third", "c", &i), STO_OK);
  EXPECT_EQ(i, 3u);
  ASSERT_EQ(create("fourth", "d", &i), STO_OK);
  EXPECT_EQ(i, 4u);
  expect_kept();
  EXPECT_EQ(load().ObjNum, 4u);
}

TEST_F(StoreSequence, ForeignNamesDoNotMoveTheSequence) {
  make_two();
  ASSERT_EQ(std::remove((dir() + "objlist.cfg").c_str()), 0);
  for (const char* name : {"01.obj", "7.obj.tmp", "x9.obj", "99999999999.obj"}) {
    std::ofstream(dir() + name) << "foreign";
  }
  swhsm::testing::clear_store_cache();
  uint32_t i = 0;
  ASSERT_EQ(create("third", "c", &i), STO_OK);
  EXPECT_EQ(i, 3u);
  expect_kept();
}

TEST_F(StoreSequence, CorruptListIsStillRefused) {
  make_two();
  {
    std::ofstream f(dir() + "objlist.cfg", std::ios::binary | std::ios::trunc);
    f << "short";
  }
  swhsm::testing::clear_store_cache();
  uint32_t i = 0;
  EXPECT_NE(create("third", "c", &i), STO_OK);
  expect_kept();
}

}  // namespace
}  // namespace stt
