#pragma once

#include "store/taskfile.h"

class QWidget;

// The one box that tells the user why the task file could not be read or
// written: what failed, the file in full and the system's reason. A missing
// file is no failure; it is an empty task list. A save that kept the tasks
// but not the old file's owner or attributes says so. True when `status`
// failed.
bool reportFileFailure(QWidget *parent, const Module1::FileStatus &status);

// After a save by a window: the tasks' calendar UIDs (kept beside the file
// once the list was exported) follow the edit, so that the next export
// names each task as the last one did. A failure costs only that, and is
// said on stderr.
void keepTaskUids();
