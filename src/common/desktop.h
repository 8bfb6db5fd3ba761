#pragma once

class QWidget;

// Asks the desktop to leave this top-level window out of task bars and
// pagers. Qt's tool flag does not say so on X11; elsewhere this does nothing.
// Call before the window is first shown.
void keepOutOfTaskbar(QWidget *window);
