// No exception leaves the store's entry points: with each allocation under a
// save failing in turn, the save answers the host-memory code or succeeds,
// and the list holds exactly the objects saved.
#include <gtest/gtest.h>

#include "support/fail_alloc.h"
#include "swhsm/store/store_fixture.h"

namespace stt {
namespace {

TEST_F(Store, CreateSurvivesEveryFailingAllocation) {
  uint32_t first = 0;
  ASSERT_EQ(create("object-one", "id1", &first), STO_OK);
  uint32_t index = 0;
  const long runs = zt::sweep_allocation_failures([&] { return create("object-two", "id2", &index); },
                                                  [&](uint32_t rv, bool failed) {
                                                    if (failed) EXPECT_TRUE(rv == STO_ERR_HOST_MEMORY || rv == STO_OK);
                                                    else EXPECT_EQ(rv, STO_OK);
                                                  });
  EXPECT_GT(runs, 0);
  const STO_SEOBJ_LIST l = load();
  EXPECT_GE(l.ObjNum, 2u);
}

}  // namespace
}  // namespace stt
