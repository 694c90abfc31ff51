#ifndef PORTWICK_TESTS_UI_SERVE_EVENTS_UNTIL_H_
#define PORTWICK_TESTS_UI_SERVE_EVENTS_UNTIL_H_

#include <QtTest/QTest>

namespace portwick {

// Serves the GUI thread's events until `condition` holds or `timeout_ms` has
// passed; the test then checks with GoogleTest's own assertions. (Qt's QTRY
// macros report to QtTest, which GoogleTest never hears from.)
template <typename Condition>
void ServeEventsUntil(Condition condition, int timeout_ms = 5000) {
  static_cast<void>(QTest::qWaitFor(condition, timeout_ms));
}

}  // namespace portwick

#endif  // PORTWICK_TESTS_UI_SERVE_EVENTS_UNTIL_H_
