#include "ui/framework/control_state_table.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <utility>
#include <vector>

#include "test_dialogs.h"
#include "ui/framework/qt/template_dialog.h"

namespace portwick {
namespace {

using Call = std::pair<int, bool>;

std::vector<Call> ApplyAndRecord(ControlStateTable& table) {
  std::vector<Call> calls;
  table.Apply([&calls](int id, bool enabled) { calls.emplace_back(id, enabled); });
  return calls;
}

TEST(ControlStateTableTest, RecordsChangesAndAppliesThemOnce) {
  ControlStateTable table({10, 20, 30});
  EXPECT_FALSE(table.pending());

  table.SetControlEnabled(10, true);   // already enabled: nothing to do
  table.SetControlEnabled(99, false);  // unknown id: ignored
  EXPECT_FALSE(table.pending());
  EXPECT_TRUE(ApplyAndRecord(table).empty());

  table.SetControlEnabled(30, false);
  table.SetControlEnabled(10, false);
  EXPECT_TRUE(table.pending());
  EXPECT_TRUE(table.IsPending(10));
  EXPECT_FALSE(table.IsPending(20));
  EXPECT_FALSE(table.IsEnabled(30));
  // Applied in table order, not call order.
  EXPECT_EQ(ApplyAndRecord(table), (std::vector<Call>{{10, false}, {30, false}}));
  EXPECT_FALSE(table.pending());
  EXPECT_FALSE(table.IsPending(10));
  EXPECT_TRUE(ApplyAndRecord(table).empty());
}

TEST(ControlStateTableTest, FlipAndFlipBackStaysPendingWithTheLastState) {
  ControlStateTable table({10, 20});
  table.SetControlEnabled(20, false);
  table.SetControlEnabled(20, true);
  EXPECT_TRUE(table.IsPending(20));
  EXPECT_EQ(ApplyAndRecord(table), (std::vector<Call>{{20, true}}));
}

TEST(ControlStateTableTest, AppliesToTheDialogsControls) {
  using namespace portwick::testing;
  TemplateDialog dialog(SampleDialogTemplate());
  ControlStateTable table({kGoButton, kOtherButton, 4242});
  table.SetControlEnabled(kGoButton, false);
  table.SetControlEnabled(4242, false);                // in the table, not in the dialog
  EXPECT_TRUE(dialog.Button(kGoButton)->isEnabled());  // not before idle
  table.Apply(dialog);
  EXPECT_FALSE(dialog.Button(kGoButton)->isEnabled());
  EXPECT_TRUE(dialog.Button(kOtherButton)->isEnabled());
  EXPECT_FALSE(table.pending());
  // The table is the only writer: a control enabled behind its back is not
  // touched until its entry changes again.
  dialog.Button(kGoButton)->setEnabled(true);
  table.Apply(dialog);
  EXPECT_TRUE(dialog.Button(kGoButton)->isEnabled());
}

}  // namespace
}  // namespace portwick
