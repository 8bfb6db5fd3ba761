#pragma once

// The start every program shares (quillet, quillet-windows, quillet-remind,
// quillet-ics): the command line, standard output, the list chosen, and
// how a mistake is said.
#include "store/systemtext.h"

#include <QStringList>

#include <optional>

// What the command line asks of a start.
struct StartOptions {
    bool showAll = false;  // the task list at once, whatever is due
    bool remind = false;   // stay, and notify each task as it falls due
    QString file;          // --file: the task file to use instead of the usual one

    // A command from the terminal does its work and ends; no window.
    enum Command { NoCommand, List, Week, Add, ExportIcs, ImportIcs, Done, Restore, Delete, Edit,
                   Sync, SyncSetup };
    Command command = NoCommand;
    bool recycled = false;  // --list: the recycled tasks
    bool json = false;      // --list: as JSON
    bool wide = false;      // --list, --week: titles never cut
    // --list, --week: which tasks; --for (forWhom) too when given.
    QString dueWithin;  // as typed
    bool overdue = false;
    QStringList words;                  // the plain arguments
    QString title, due, forWhom, note;  // --add; --edit with --title
    QString number;                     // --done, --restore, --delete, --edit: as typed
    // --edit changes only the fields given (an empty --for empties it).
    bool titleGiven = false, dueGiven = false, forGiven = false, noteGiven = false;
    QString icsFile;  // --export-ics, --import-ics; "-" is stdout
    QString syncUrl, user, calendar, passwordCommand;  // --sync-setup
};

// Reads the options as GNU programs do. An exit status when the program
// ends here: 0 after --help or --version (printed on stdout), 2 after a
// wrong option or argument (said on stderr).
std::optional<int> parseCommandLine(const QStringList &arguments, StartOptions *options);

// What each of the programs does first: standard output watched, a file
// size limit made an ordinary write error, the command line read and the
// task list chosen. The exit status when the program ends there.
std::optional<int> beginProgram(int argc, char **argv, StartOptions *options);

// Chooses the task list for this process (--file, the current folder's
// tasks.txt, or the user's list) and makes the user's list folder on a
// first run. False, said on stderr, when that folder could not be made.
bool settleTaskList(const StartOptions &options);

// A mistake in the command line, said as every complaint (store/systemtext.h)
// and followed by where to read how.
void complainOfUsage(const QString &text);

// Standard output as GNU programs keep it (close_stdout): a text that
// could not be written ends the program with "quillet: write error: <the
// system's reason>" on stderr and status 1, never 0. Call first in main.
void watchStandardOutput();

// Prints task texts on standard output whole: a NUL in a title is shown as
// the page shows a character it cannot, and does not end the output.
void printTasksText(QString text);
