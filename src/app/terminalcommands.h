#pragma once

#include "app/agenda.h"
#include "app/commandline.h"
#include "store/dates.h"
#include "store/tables.h"
#include "store/taskfile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The commands typed in a terminal that need QtCore alone: they run in the
// front program and end. Each returns the exit status.

// --list: the current (or recycled) tasks in the list's order; --week:
// the coming seven days' (app/agenda.h).
int listTasks(const StartOptions &options);
// --add: one task through the same load, checks and save as the editor.
int addTask(const StartOptions &options);

// The tasks of one view that `filter` keeps as a JSON array, dates in ISO
// 8601 local time, each numbered as the unfiltered view numbers it.
QByteArray tasksAsJson(bool recycled, Module1::Days today, const TaskFilter &filter = {});

// A due moment: a calendar date and a time of day.
struct DueMoment {
    int year, month, day, hour = 0, minute = 0;
};
// WHEN as --due takes it: 2026-12-24, 2026-12-24 09:30, today, tomorrow,
// +N (days), or a weekday name (the next such day after today); each may
// be followed by a time HH:MM. Nothing for any other text.
std::optional<DueMoment> parseWhen(const QString &when, Module1::Days today);
extern const char kWhenForms[];
// The message for a WHEN that parseWhen refused: a day or month the
// calendar lacks is named, anything else gets the forms that are read.
QString whenMistake(const QString &when);

// One change of the list through the store's transaction
// (store/listchange.h), told on stderr: why it was not made, or what beside
// it could not be kept. The status: 0 when the change is in the file, 1
// when the file could not be read or saved or another writer kept it
// locked, 2 when `change` refused.
int applyChange(const std::function<QString()> &change,
                const std::function<QString()> &afterSaved = {});

// Fills a fresh slot past the last task with `task`, recycled or not;
// false when the table is full (the editor's own limit).
bool appendTask(Module1::Task task, bool recycled);
// The message when it is full.
QString listFullText();
// --done, --restore, --delete and --edit (app/taskcommands.cpp): one task
// named by its number in the last listing (app/tasknumbers.h).
int changeNumberedTask(const StartOptions &options);

// The list's order: by due moment, as the main window opens.
void sortAsTheList();
// A task text as a terminal may take it: control characters (C0 but NUL,
// which is printed as U+FFFD, DEL and C1) shown as octal escapes, as
// `ls -b` shows them, so that a title from a shared folder or a calendar
// can neither clear the screen nor set the window's title.
QString visible(const QString &text);
// WHEN of --due, read and checked as --add checks it (a time the clocks
// skip is refused); nothing, said on stderr, when it is wrong.
std::optional<DueMoment> checkedDue(const QString &when);
// Whether the title, --for and --note texts fit a field; said on stderr.
bool textsFit(const StartOptions &options);
// A --note as the task file keeps it: line breaks as CR LF.
QString storedNote(const QString &typed);
// The due fields of `task` set to `due`, at second 0.
void setDue(Module1::Task *task, const DueMoment &due);

// The longest text a field takes: what the editor's boxes take.
inline constexpr int kLongestField = 32767;
