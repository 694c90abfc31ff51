#include "ui/framework/data_exchange.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <string>

#include "test_dialogs.h"
#include "ui/framework/qt/template_dialog.h"

namespace portwick {
namespace {

using namespace portwick::testing;

TEST(ParseSignedIntTest, AcceptsOnlyASignedNumberWithinThirtyTwoBits) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"12", true, 12},
      {" -5", true, -5},
      {"+7", true, 7},
      {"  42  ", true, 42},
      {"\t8\t", true, 8},
      {"0", true, 0},
      {"007", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"", false, 0},
      {"   ", false, 0},
      {"abc", false, 0},
      {"12abc", false, 0},
      {"1 2", false, 0},
      {"-", false, 0},
      {"+-3", false, 0},
      {"- 3", false, 0},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999999", false, 0},
      {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 1234;
    EXPECT_EQ(ParseSignedInt(c.text, &value), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(value, c.value) << '"' << c.text << '"';
  }
}

class DataExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExchangeBeep([this]() { ++beeps_; });
  }
  void TearDown() override { SetExchangeBeep({}); }

  TemplateDialog dialog_{SampleDialogTemplate()};
  int beeps_ = 0;
};

TEST_F(DataExchangeTest, TextRoundTripsThroughEveryTextControl) {
  for (int id : {kNameEdit, kPane, kCaption, kOptionBox, kGoButton, kFrame}) {
    const std::string text = "Grüße #" + std::to_string(id);
    ASSERT_TRUE(WriteText(dialog_, id, text)) << id;
    std::string read;
    ASSERT_TRUE(ReadText(dialog_, id, &read)) << id;
    EXPECT_EQ(read, text) << id;
  }
  std::string untouched = "keep";
  EXPECT_FALSE(ReadText(dialog_, 4242, &untouched));
  EXPECT_EQ(untouched, "keep");
  EXPECT_FALSE(WriteText(dialog_, 4242, "x"));
}

TEST_F(DataExchangeTest, IntegersAreWrittenInDecimalAndReadStrictly) {
  ASSERT_TRUE(WriteInt(dialog_, kNumberEdit, -70000));
  EXPECT_EQ(dialog_.Edit(kNumberEdit)->text(), "-70000");
  int32_t value = 0;
  EXPECT_TRUE(ReadInt(dialog_, kNumberEdit, &value));
  EXPECT_EQ(value, -70000);

  dialog_.Edit(kNumberEdit)->setText("12x");
  value = 99;
  EXPECT_FALSE(ReadInt(dialog_, kNumberEdit, &value));
  EXPECT_EQ(value, 0);
  value = 99;
  EXPECT_FALSE(ReadInt(dialog_, 4242, &value));
  EXPECT_EQ(value, 0);
}

TEST_F(DataExchangeTest, CheckStatesClampOutOfRangeValues) {
  struct Case {
    int32_t written;
    int32_t field_after;
    Qt::CheckState shown;
  };
  const Case cases[] = {{1, 1, Qt::Checked},
                        {0, 0, Qt::Unchecked},
                        {2, 2, Qt::PartiallyChecked},
                        {3, 0, Qt::Unchecked},
                        {-1, 0, Qt::Unchecked}};
  for (const Case& c : cases) {
    int32_t field = c.written;
    EXPECT_TRUE(WriteCheck(dialog_, kOptionBox, &field));
    EXPECT_EQ(field, c.field_after) << c.written;
    EXPECT_EQ(dialog_.CheckBox(kOptionBox)->checkState(), c.shown) << c.written;
    int32_t read = -7;
    EXPECT_TRUE(ReadCheck(dialog_, kOptionBox, &read));
    EXPECT_EQ(read, c.field_after);
  }
  int32_t field = 1;
  EXPECT_FALSE(WriteCheck(dialog_, kNameEdit, &field));  // not a check box

  // A click on an indeterminate box ends in a two-state box again.
  field = 2;
  ASSERT_TRUE(WriteCheck(dialog_, kOptionBox, &field));
  dialog_.CheckBox(kOptionBox)->click();
  dialog_.CheckBox(kOptionBox)->click();
  dialog_.CheckBox(kOptionBox)->click();
  EXPECT_NE(dialog_.CheckBox(kOptionBox)->checkState(), Qt::PartiallyChecked);
  EXPECT_FALSE(dialog_.CheckBox(kOptionBox)->isTristate());
}

TEST_F(DataExchangeTest, FirstFailingPairBeepsTakesFocusAndStops) {
  std::string name = "before";
  int32_t number = 5;
  int32_t option = 0;
  std::string pane = "pane before";
  const ExchangePair pairs[] = {
      ExchangePair::Text(kNameEdit, &name),
      ExchangePair::Int(kNumberEdit, &number),
      ExchangePair::Check(kOptionBox, &option),
      ExchangePair::Text(kPane, &pane),
  };
  dialog_.show();
  dialog_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));

  dialog_.Edit(kNameEdit)->setText("typed");
  dialog_.Edit(kNumberEdit)->setText("letters");
  dialog_.CheckBox(kOptionBox)->setChecked(true);
  dialog_.OutputPane(kPane)->setPlainText("pane typed");
  dialog_.Edit(kNameEdit)->setFocus();

  EXPECT_FALSE(ExchangePairs(dialog_, pairs, ExchangeDirection::kRead));
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(QApplication::focusWidget(), dialog_.Edit(kNumberEdit));
  EXPECT_EQ(name, "typed");  // before the failure: read
  EXPECT_EQ(number, 0);      // the failing pair stores 0
  EXPECT_EQ(option, 0);      // after it: untouched
  EXPECT_EQ(pane, "pane before");

  // One pair alone.
  dialog_.Edit(kNumberEdit)->setText(" 17 ");
  EXPECT_TRUE(ExchangePairs(dialog_, pairs, ExchangeDirection::kRead, kNumberEdit));
  EXPECT_EQ(number, 17);
  EXPECT_EQ(option, 0);

  EXPECT_TRUE(ExchangePairs(dialog_, pairs, ExchangeDirection::kRead));
  EXPECT_EQ(option, 1);
  EXPECT_EQ(pane, "pane typed");

  name = "written";
  number = -3;
  option = 9;
  EXPECT_TRUE(ExchangePairs(dialog_, pairs, ExchangeDirection::kWrite));
  EXPECT_EQ(dialog_.Edit(kNameEdit)->text(), "written");
  EXPECT_EQ(dialog_.Edit(kNumberEdit)->text(), "-3");
  EXPECT_EQ(option, 0);
  EXPECT_FALSE(dialog_.CheckBox(kOptionBox)->isChecked());
  EXPECT_EQ(beeps_, 1);
}

}  // namespace
}  // namespace portwick
