#pragma once

// quillet --remind: stays for the session and sends a desktop notification
// when a task of the folder it started in falls due. QtCore and QtDBus
// only; it never writes the task file and takes no lock. The exit status:
// 0 when another reminder already serves this folder, 1 when it cannot
// work (no session bus, no notification service).
int runReminder(int argc, char **argv);
