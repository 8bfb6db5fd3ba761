#pragma once

#include "store/tables.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace Module1 {

// Which task a record holds. A task has no identity of its own in the
// tables, only its content and a slot that sorting changes, so every use
// below is made from one serialisation of that content.

// The serialisation: the fields that say which task it is, in this order,
// each as bytes:
//   title, for whom, description  in UTF-8, as typed;
//   due                           "Y-M-D h:m:s", the six stored numbers in
//                                 decimal (a minus sign where negative),
//                                 not carried over: month 13 stays 13, as
//                                 the file keeps it.
// The recycled flag is not in it: recycling or restoring does not make
// another task. The derived texts are not either (they follow the fields).
struct TaskIdentity {
    QByteArray title, forWhom, due, description;
    bool operator==(const TaskIdentity &) const = default;
};
TaskIdentity identityOf(const Task &task);

// Use 1, the key: names one task of the tables for this run and across
// programs of the same list (the reminder's notifications and put-offs,
// the hand-over's "show-task", QUILLET_SELECT_TASK). A digest of the
// serialisation, then the task's place among tasks that hold exactly the
// same ("<hex>:<n>"). Sorting, saving or editing other tasks leaves it
// alone; editing the task makes a new one; recycling keeps it (a task put
// off, recycled and restored is still put off). Plain ASCII, at most 48
// characters. Use it whenever a task is named to another part of the
// program; not for calendars, where an edited task must stay the same.
std::vector<QByteArray> taskKeys();

// Whether the text has the form of a key (what a key from elsewhere must
// have before it is used).
bool isTaskKey(const QByteArray &text);

// The tables' keys, and the slot a key names. A key given by Quillet
// before the due part was serialised as above (a put-off file, or a
// reminder started before an update and still running) names its task
// too. Put-offs last a day at most: this reading of old keys can go once
// no such reminder runs.
class TaskKeyIndex {
public:
    TaskKeyIndex();
    const std::vector<QByteArray> &keys() const { return m_keys; }
    // The slot of the task with that key, or -1.
    int slotOf(const QByteArray &key) const;

private:
    std::vector<QByteArray> m_keys;
    mutable std::optional<std::vector<QByteArray>> m_earlier;
};

// The slot of the task with that key, or -1.
int findTask(const QByteArray &key);

// Use 2, the calendar print: what the UID file keeps beside each UID
// (store/taskids.h), a hash of each part of the serialisation alone, so
// that an edited task is known again by the parts it kept. Stable across
// runs, versions and machines: its bytes are those of every UID file
// written so far. Recycling and restoring change nothing in it (a calendar
// marks the same to-do done). Use it only to match calendars' UIDs.
struct TaskPrint {
    QByteArray title, forWhom, due, description;
    bool operator==(const TaskPrint &) const = default;
};
TaskPrint printOf(const Task &task);

// Whether two records hold the same task, for a window that reads the list
// again (the selection, the task editor's Ok): the same serialisation and
// the same recycled flag (unlike a key: a task recycled elsewhere is no
// longer the one a window shows or edits).
bool sameTask(const Task &a, const Task &b);

// The slot of a task that holds what `record` holds, or -1; `preferred`
// first when it holds it, so that of identical tasks the one in its old
// place is found.
int findSameTask(const Task &record, int preferred = -1);

}  // namespace Module1
