#pragma once

#include "app/commandline.h"
#include "page/alertpage.h"
#include "store/taskfile.h"

// What a start does, decided before any window exists and by the same code
// in the small front program and in the windowed one: most starts announce
// nothing and must end without loading a window library.
struct StartPlan {
    enum Next {
        End,        // with exitCode; whatever there was to say is said
        Refuse,     // the task file cannot be used: say why in a box, end with 1
        ShowAlert,  // the start-up window with the page
        ShowList,   // the main window at once: a first run, or --show-all
    };
    Next next = End;
    int exitCode = 0;
    Module1::FileStatus status;  // the task file as it was read
    PublishedPage page;          // built and written unless the list was asked for
};

// Reads the task file into the tables and, unless the list was asked for,
// builds and writes the alert page. Without a display, announced tasks are
// printed on standard output as plain text and the start ends.
StartPlan planStart(const StartOptions &options, bool displayAvailable);

// Says on stderr why the task file cannot be used (started from a
// terminal, or with no display at all): once, by the program that ends on
// it (the front without a display, the windows with their box).
void reportRefusal(const StartPlan &plan);

// The windows show the page from memory, so a page file that could not be
// written costs only its readers outside the program: said on stderr.
void reportPageFile(const Module1::FileStatus &file);

// The announced tasks as plain text, one line each: title, for, due, then
// "Today!", "Late!" or "N days left". The tables are in due order.
QString announcedAsText(Module1::Days today);
