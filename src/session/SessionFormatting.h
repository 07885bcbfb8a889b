#pragma once

#include <QString>

namespace quillmoss {

// "%02d:%02d" of whole seconds (fraction dropped); minutes are not capped,
// so 75 minutes show as 75:00.
QString clockText(double seconds);
// Focused time on the completion screen: "25m", "1h 0m", "1h 2m".
QString focusedTimeText(double seconds);
// "Good morning" before 12, "Good afternoon" 12–16, "Good evening" from 17.
QString greetingForHour(int hour);
// Whole minutes of a plan's total followed by "m" (3300 s → "55m").
QString planMinutesText(double seconds);

} // namespace quillmoss
