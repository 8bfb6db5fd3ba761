#include "common/filereport.h"

#include "common/messagebox.h"
#include "store/taskids.h"

#include <cstdio>

bool reportFileFailure(QWidget *parent, const Module1::FileStatus &status)
{
    if (status.ok() && !status.notice.isEmpty())
        MessageBox::information(parent, QStringLiteral("Quillet"), status.notice);
    if (status.ok() || status.code == Module1::FileStatus::Missing)
        return false;
    MessageBox::error(parent, QStringLiteral("Quillet"), status.error);
    return true;
}

void keepTaskUids()
{
    QString why;
    if (!Module1::refreshTaskUids(&why))
        std::fprintf(stderr, "quillet: %s\n", qPrintable(why));
}
