#pragma once

#include "store/taskfile.h"

#include <QFont>
#include <QList>
#include <QString>
#include <QtGlobal>

class QDialog;
class QWidget;

// What the two editors share: the fixed dialog frame, placement, the file
// calls with their error box and caption fitting.
namespace dialogsupport {

// Title bar with a close box only, client area fixed at the given twips.
void makeFixedDialog(QDialog *dialog, double widthTwips, double heightTwips);

// Top-left corner that centres a window of `size` over `over`, kept inside
// `screen`.
QPoint centredPosition(const QSize &size, const QRect &over, const QRect &screen);

// Centres `dialog` over its parent's window (or its screen) before it shows.
void centreOverParent(QDialog *dialog);

// The task file in the current directory, named in full so that an error
// message tells the user which file it means.
QString taskFilePath();

// One caption and the width (in pixels) it has to fit in.
struct Caption {
    QString text;  // '&' access-key markers are not drawn and not counted
    double width = 0;
};

// Width of a caption as drawn in `font`, access-key markers removed.
double captionWidth(const QFont &font, const QString &text);

// The largest of the program's 8.25 pt sans font and its smaller or
// condensed variants in which every caption fits. The system font may be
// much wider than the one the layout was drawn for; positions stay as they
// are and the text shrinks a little instead.
QFont fittingFont(const QList<Caption> &captions);

// Available text width of a label, a push button or a check box as the
// current style draws it.
double textRoom(const QWidget *widget);

// Shrinks the dialog's font until each caption widget's text fits, and
// elides (with the full text as tool tip) whatever still does not.
void fitCaptions(QWidget *dialog, const QList<QWidget *> &captioned,
                 const QList<Caption> &extra = {});

// The one box that tells the user why the task file could not be read or
// written. A missing file is no error: it means an empty task list.
bool reportFailure(QWidget *parent, const Module1::FileStatus &status);

// Writes or reads back the task file, with the box on failure; true when
// the call failed.
bool saveFailed(QWidget *parent);
bool reloadFailed(QWidget *parent);

// What reloadFailed reads with. Tests put in one that fails, to see what a
// failed read-back after a good save leaves; nullptr: Module1::loadTasks.
using TaskFileReader = Module1::FileStatus (*)(const QString &path);
void setTaskFileReader(TaskFileReader reader);

}  // namespace dialogsupport
