#ifndef PORTWICK_UI_CONDITIONS_SUMMARY_H_
#define PORTWICK_UI_CONDITIONS_SUMMARY_H_

#include <span>
#include <string>

#include "engine/conditions/condition.h"

namespace portwick {

// The conditions for the status line, short and in the order given:
// "down delay 100 ms; up rate 64 KiB/s; down cut 4 KiB reset (50 %)".
// Empty for none. A pure function; any thread.
std::string ConditionsSummary(std::span<const Condition> conditions);

}  // namespace portwick

#endif  // PORTWICK_UI_CONDITIONS_SUMMARY_H_
