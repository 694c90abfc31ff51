#include "run/run_settings_from.h"

#include <gtest/gtest.h>

namespace portwick {
namespace {

// The window's and the console's runs come from here. Without forwards: one
// from source and destination, a bracketed IPv6 address on both sides, ports
// cut to 16 bits.
TEST(RunSettingsFromTest, GivesOneForwardFromSourceAndDestination) {
  ProxySettings settings;
  settings.bind_address = "[::1]";
  settings.local_port = 65536 + 1999;
  settings.remote_host = "[::1]";
  settings.log_file_name = "traffic.log";

  const RunSettings run = RunSettingsFrom(settings);
  ASSERT_EQ(run.forwards.size(), 1u);
  EXPECT_EQ(run.forwards[0].bind, Endpoint::LoopbackIPv6(1999));
  EXPECT_EQ(run.forwards[0].remote_host, "::1");
  EXPECT_EQ(run.forwards[0].remote_port, 2007);
  EXPECT_TRUE(run.log.write_to_file);
  EXPECT_TRUE(run.log.show_in_output);
}

// Forwards replace source and destination; one without an address of its
// own listens where --bind says. A trace takes standard output.
TEST(RunSettingsFromTest, ForwardsReplaceSourceAndDestination) {
  ProxySettings settings;
  settings.bind_address = "::1";
  settings.trace = TraceMode::kEvents;
  settings.forwards = {{Endpoint::AnyIPv4(5000), false, "a", 1, {}},
                       {Endpoint::LoopbackIPv4(5001), true, "b", 2, {}}};

  const RunSettings run = RunSettingsFrom(settings);
  EXPECT_FALSE(run.log.write_to_file);
  EXPECT_FALSE(run.log.show_in_output);
  EXPECT_EQ(run.outputs.trace, TraceMode::kEvents);
  ASSERT_EQ(run.forwards.size(), 2u);
  EXPECT_EQ(run.forwards[0].bind, Endpoint::LoopbackIPv6(5000));
  EXPECT_EQ(run.forwards[1].bind, Endpoint::LoopbackIPv4(5001));
  EXPECT_EQ(run.forwards[1].remote_host, "b");
  EXPECT_EQ(run.forwards[1].remote_port, 2);
}

// Conditions before any forward act on every forward, ahead of each
// forward's own; without forwards they all act on the one. Limits pass as given.
TEST(RunSettingsFromTest, ConditionsGoToTheirForwardsAndLimitsPass) {
  const Condition all = *ParseCondition("both:delay=5ms", nullptr);
  const Condition own = *ParseCondition("down:cut=10", nullptr);
  ProxySettings settings;
  settings.conditions = {all};
  settings.limits.idle_timeout = std::chrono::seconds(30);
  settings.limits.max_sessions = 7;
  const RunSettings single = RunSettingsFrom(settings);
  ASSERT_EQ(single.forwards.size(), 1u);
  EXPECT_EQ(single.forwards[0].conditions, std::vector<Condition>{all});
  EXPECT_EQ(single.limits, settings.limits);

  settings.forwards = {{Endpoint::AnyIPv4(5000), false, "a", 1, {own}},
                       {Endpoint::AnyIPv4(5001), false, "b", 2, {}}};
  const RunSettings run = RunSettingsFrom(settings);
  ASSERT_EQ(run.forwards.size(), 2u);
  EXPECT_EQ(run.forwards[0].conditions, (std::vector<Condition>{all, own}));
  EXPECT_EQ(run.forwards[1].conditions, std::vector<Condition>{all});
}

}  // namespace
}  // namespace portwick
