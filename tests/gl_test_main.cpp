// main() for the tests that draw in GL contexts of their own: GoogleTest,
// with GLUT started first (but not when the tests are only being listed, as
// CTest does at build time, without a display).
#include <GL/glut.h>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!::testing::GTEST_FLAG(list_tests))
    glutInit(&argc, argv);
  return RUN_ALL_TESTS();
}
