#include <gtest/gtest.h>

#include "tovik/runloop/main_queue.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The thread that runs the tests is the main thread of the kit.
  (void)tovik::MainQueue::shared();
  return RUN_ALL_TESTS();
}
