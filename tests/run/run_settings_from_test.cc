#include "run/run_settings_from.h"

#include <gtest/gtest.h>

namespace portwick {
namespace {

// The window's and the console's runs come from here: a bracketed IPv6 bind
// address, a trace that takes standard output, and forwards with and without
// an address of their own.
TEST(RunSettingsFromTest, TranslatesAddressesLogAndForwards) {
  ProxySettings settings;
  settings.bind_address = "[::1]";
  settings.remote_host = "[::1]";
  settings.log_file_name = "traffic.log";
  settings.trace = TraceMode::kEvents;
  settings.forwards = {{Endpoint::AnyIPv4(5000), false, "a", 1},
                       {Endpoint::LoopbackIPv4(5001), true, "b", 2}};

  const RunSettings run = RunSettingsFrom(settings);
  EXPECT_EQ(run.bind_address, Endpoint::LoopbackIPv6(0));
  EXPECT_EQ(run.remote_host, "::1");
  EXPECT_TRUE(run.log.write_to_file);
  EXPECT_FALSE(run.log.show_in_output);  // the trace has standard output
  EXPECT_EQ(run.outputs.trace, TraceMode::kEvents);
  ASSERT_EQ(run.forwards.size(), 2u);
  EXPECT_EQ(run.forwards[0].bind, Endpoint::LoopbackIPv6(5000));  // where --bind says
  EXPECT_EQ(run.forwards[1].bind, Endpoint::LoopbackIPv4(5001));
  EXPECT_EQ(run.forwards[1].remote_port, 2);
}

}  // namespace
}  // namespace portwick
