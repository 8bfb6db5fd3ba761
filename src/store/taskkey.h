#pragma once

#include "store/tables.h"

#include <QByteArray>
#include <vector>

namespace Module1 {

// Names one task of the tables across reads of the file and across
// programs (the reminder names the task a click should select): a digest of
// everything the task holds but its recycled flag, then its place among
// the tasks that hold exactly the same ("<hex>:<n>"). Saving, sorting or
// editing other tasks leaves it alone; editing the task makes a new one.
// Plain ASCII, at most 48 characters.
std::vector<QByteArray> taskKeys();

// Whether the text has the form of a key (what a key from elsewhere must
// have before it is used).
bool isTaskKey(const QByteArray &text);

// The slot of the task with that key, or -1.
int findTask(const QByteArray &key);

// Whether two records hold the same task: every field the file keeps for
// it is equal, the recycled flag included (unlike a key: a task recycled
// elsewhere is no longer the one a window shows). The derived texts are
// not compared.
bool sameTask(const Task &a, const Task &b);

// The slot of a task that holds what `record` holds, or -1; `preferred`
// first when it holds it, so that of identical tasks the one in its old
// place is found.
int findSameTask(const Task &record, int preferred = -1);

}  // namespace Module1
