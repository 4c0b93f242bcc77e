// The fixture of the bills tests: the records fixture under the bills' folder prefix.
#pragma once

#include "Brivel/collections/testing/records_test_support.h"

namespace brivel::testing {

class BillsTest : public RecordsTest {
 protected:
  BillsTest() : RecordsTest("brivel-bills") {}
};

}  // namespace brivel::testing
