#pragma once

#include "store/taskfile.h"

class QWidget;

// The one box that tells the user why the task file could not be read or
// written: what failed, the file in full and the system's reason. A missing
// file is no failure; it is an empty task list. A save that kept the tasks
// but not the old file's owner or attributes (or its calendar UIDs) says
// so. True when `status` failed.
bool reportFileFailure(QWidget *parent, const Module1::FileStatus &status);
