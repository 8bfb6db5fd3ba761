#pragma once

#include <QString>

namespace Module1 {

// The one way an errno value becomes text. The C library's own words
// (strerror), in the user's language where the system has it, so a reason
// reads as every other program in the terminal gives it; Qt's
// qt_error_string keeps untranslated texts of its own for a few values.
QString systemError(int error);

// The one way the programs speak on standard error: "quillet: TEXT" and a
// line end, written at once. A text of several lines gets the prefix once.
void complain(const QString &text);

}  // namespace Module1
