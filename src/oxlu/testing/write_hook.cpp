// Test seam of the file utilities (see oxlu/testing.h).
#include "oxlu/testing.h"

#include "seams.h"

namespace oxlu::testing {

void set_write_function(WriteFn fn) { seams::write_fn.store(fn); }

}  // namespace oxlu::testing
