#pragma once

#include "page/pageblocks.h"
#include "store/dates.h"
#include "store/taskfile.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The start-up alert page: which tasks the rules announce, as HTML text.
struct AlertPage {
    QByteArray html;  // the page file, in UTF-8: task texts as they are
    // What the viewer shows, block by block (the heading, then one block per
    // task): html, but with every task text escaped whose markup the viewer
    // could not lay out in bounded time. Its markup shares html's data when
    // no text needed it.
    PageBlocks view;
    bool announced = false;
};

// Six upper-case hex digits, red first; the top byte is ignored.
QString colorText(qint32 color);

// Sets sortMode to 2, sorts the tasks, then builds the page from the tables,
// `today` and the default locale. Formatting a due date sets a month of 0
// to 1 in the task, as the list does. When none of those changed since the
// last call, that call's page is returned (sharing its text).
AlertPage buildAlertPage(Module1::Days today);

// <private runtime folder>/al.html, or empty when there is none.
QString alertPagePath();

// Writes the page as a new file (0600) in the private folder and renames it
// over whatever stands at the page's name, so a link planted there is
// replaced, never written through. WriteFailed, naming the path and the
// system's reason, when there is no usable folder or any step fails.
Module1::FileStatus writeAlertPage(const QByteArray &html);

// A page built for today and put in its file.
struct PublishedPage {
    AlertPage page;
    Module1::FileStatus file;  // how writing the page file went
};
PublishedPage publishAlertPage();
