#include "app/siblings.h"

#include <QFile>
#include <QFileInfo>

QString siblingProgram(const QString &name)
{
    QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString deleted = QStringLiteral(" (deleted)");
    if (self.endsWith(deleted))
        self.chop(deleted.size());
    const QString folder = QFileInfo(self).absolutePath();
    for (const QString &candidate : {folder + QLatin1Char('/') + name,
                                     folder + QStringLiteral("/../libexec/quillet/") + name}) {
        const QFileInfo file(candidate);
        if (file.isFile() && file.isExecutable())
            return file.absoluteFilePath();
    }
    return {};
}
