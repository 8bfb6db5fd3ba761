#pragma once

#include <QString>

namespace Module1 {

// Where a task list lies: its folder and the file's name in it.
struct ListPlace {
    QString folder;  // empty: the current folder, whose name need not be text
    QString fileName;

    bool operator==(const ListPlace &) const = default;
};

// The user's own list, the one the menu entry opens: tasks.txt in
// $XDG_DATA_HOME/quillet (~/.local/share/quillet when that is unset or
// not absolute).
ListPlace userList();

// The list a start or a command works on. `file` (from --file) names it
// outright; otherwise the current folder's tasks.txt when the folder has
// one (whatever it is: a folder named tasks.txt is refused there, not
// passed over), else the user's list. A terminal in any other folder never
// gets a new list of its own by surprise.
ListPlace chooseTaskList(const QString &file);

// Whether the list this process holds is the user's own (userList), as
// the disk knows the folder: the windows name any other list.
bool holdsUserList();

// Makes the user's list folder (mode 0700) when it is the chosen one and
// missing, so that a first run can save; another folder is never made.
// False, with the system's reason, when it could not be made.
bool prepareListFolder(const ListPlace &place, QString *why);

}  // namespace Module1
