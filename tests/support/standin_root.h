// A test fixture that points the platform stand-in (ZU_WIN32_ROOT) at a
// fresh temp dir, where the test writes the standin.conf it needs.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

class StandinRootTest : public testing::Test {
 protected:
  void SetUp() override { setenv("ZU_WIN32_ROOT", root.path().c_str(), 1); }
  void TearDown() override { unsetenv("ZU_WIN32_ROOT"); }
  /* Replaces standin.conf with these name=value lines. */
  void Configure(const std::string& lines) { root.Write("standin.conf", lines); }

  TempDir root;
};
