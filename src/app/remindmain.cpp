// quillet-remind: `quillet --remind`, exec'd by the front program so that
// the plain start, at every login, maps no D-Bus library.
#include "app/commandline.h"
#include "remind/remindmode.h"

int main(int argc, char **argv)
{
    watchStandardOutput();
    return runReminder(argc, argv);
}
