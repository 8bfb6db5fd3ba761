#pragma once

// The numbers --list gives the tasks and the commands take (--done 3).
// A number is a task's place in the order --list prints, counted over the
// current tasks, or over the recycled ones for --list --recycled; a filter
// hides tasks but never renumbers the others.
//
// Each listing is remembered per list (its path), in this user's state
// folder: which task (by its key, store/taskidentity.h) had which number,
// and the order of that view as it then was. A command naming N acts on
// the task the last listing showed as N, and refuses, as git refuses a
// stale index, when that task is no longer in the list unchanged, when
// anything but these commands moved it in the list since, when N was not
// listed, or when no listing is remembered at all.
#include <QByteArray>
#include <QString>

#include <vector>

// For each slot of the tables (sorted as --list sorts them), the task's
// number in its view (current or recycled), 1 for the first.
std::vector<int> taskNumbers();

// After a listing of the current tasks (or the recycled ones): remembers
// their numbers for the commands. False with the reason when they could
// not be kept.
bool rememberListing(bool recycled, QString *why);

// The task a number names, in the tables as loaded and sorted as --list
// sorts them.
struct ListedTask {
    int slot = -1;          // the task's slot; -1 when refused
    bool recycled = false;  // the view that listing showed
    QString refusal;        // why the number names no task now, for the user
};
ListedTask findListedTask(int number);

// After a command changed the list (the tables sorted again): the listing
// stays the one the user read, with the task it numbered `number` now
// holding `key` (empty: gone from that view), and the list's new order as
// this command left it, so that the other numbers still work. False with
// the reason when that could not be kept.
bool keepListingAfter(int number, const QByteArray &key, QString *why);
