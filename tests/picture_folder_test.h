// A fixture for tests that start the viewer: a fresh folder holding
// b1.jpg ... b6.jpg, each one plain colour (see write_solid_face_pictures).
#pragma once

#include <gtest/gtest.h>

#include "test_pictures.h"

class PictureFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir = make_temp_dir();
    write_solid_face_pictures(dir);
  }
  void TearDown() override { remove_tree(dir); }
  std::string dir;
};
