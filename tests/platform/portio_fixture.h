// A scratch folder with its own configuration file, pointed at by I2C_INI,
// and the port layer (built into the test) started afresh for each test
// and finished after it.
#pragma once

#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "dlportio.h"
#include "platform/portio/port_layer.h"
#include "sim/bench/sim_bench.h"
#include "tests/support/capture.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/scratch.h"

namespace portio_test {

using test_kit::CapturedOutput;
using test_kit::in_child;
using test_kit::lines_of;
using test_kit::read_file;

class PortIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("I2C_INI", config_path().c_str(), 1);
    portio::restart();
  }

  void TearDown() override {
    portio::restart();
    ::unsetenv("I2C_INI");
  }

  std::string config_path() const { return path("I2C.INI"); }
  std::string path(const std::string& name) const { return scratch_.file(name); }

  // Replaces the configuration and makes the next access read it.
  void configure(const std::string& text) {
    test_kit::write_file(config_path(), text);
    portio::restart();
  }

 private:
  const test_kit::ScratchFolder scratch_{"portio-test-"};

 protected:
  const std::string folder_ = scratch_.path();
};

}  // namespace portio_test
