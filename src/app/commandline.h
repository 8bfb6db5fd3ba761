#pragma once

#include <QStringList>

#include <optional>

// What the command line asks of a start.
struct StartOptions {
    bool showAll = false;  // the task list at once, whatever is due
    bool remind = false;   // stay, and notify each task as it falls due
    QString file;          // --file: the task file to use instead of the usual one

    // A command from the terminal does its work and ends; no window.
    enum Command { NoCommand, List, Add, ExportIcs, ImportIcs };
    Command command = NoCommand;
    bool recycled = false;  // --list: the recycled tasks
    bool json = false;      // --list: as JSON
    QString title, due, forWhom, note;  // --add
    QString icsFile;                    // --export-ics, --import-ics; "-" is stdout
};

// Reads the options as GNU programs do. An exit status when the program
// ends here: 0 after --help or --version (printed on stdout), 2 after a
// wrong option or argument (said on stderr).
std::optional<int> parseCommandLine(const QStringList &arguments, StartOptions *options);

// Standard output as GNU programs keep it (close_stdout): a text that
// could not be written ends the program with "quillet: write error: <the
// system's reason>" on stderr and status 1, never 0. Call first in main.
void watchStandardOutput();

// Prints task texts on standard output whole: a NUL in a title is shown as
// the page shows a character it cannot, and does not end the output.
void printTasksText(QString text);
