// quillet-remind: `quillet --remind`, exec'd by the front program so that
// the plain start, at every login, maps no D-Bus library.
#include "app/commandline.h"
#include "app/terminalcommands.h"
#include "remind/remindmode.h"

int main(int argc, char **argv)
{
    watchStandardOutput();
    // The same list as the front program chose: --file, or the rule.
    StartOptions options;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> code = parseCommandLine(arguments, &options))
        return *code;
    if (!settleTaskList(options))
        return 1;
    return runReminder(argc, argv);
}
