#include "common/filereport.h"

#include "common/messagebox.h"

bool reportFileFailure(QWidget *parent, const Module1::FileStatus &status)
{
    if (status.ok() && !status.notice.isEmpty())
        MessageBox::information(parent, QStringLiteral("Quillet"), status.notice);
    if (status.ok() || status.code == Module1::FileStatus::Missing)
        return false;
    MessageBox::error(parent, QStringLiteral("Quillet"), status.error);
    return true;
}
