#include "support/testsupport.h"

#include "common/messagebox.h"
#include "store/tables.h"
#include "store/taskfile.h"

#include <QFile>
#include <QLocale>

#include <gtest/gtest.h>

#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

void resetWorld()
{
    Module1::resetTables();
    // Each test holds the folder it makes current.
    Module1::useTaskList({}, QString::fromLatin1(Module1::kTaskFileName));
    Module1::setToday(Module1::Days{kToday});
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    MessageBox::clearNextAnswers();
    MessageBox::clearLastShown();
    // A box no test expected would wait for a click until ctest gives up.
    MessageBox::setUnansweredHandler([](const MessageBox::Shown &box) {
        ADD_FAILURE() << "a message box that no test answered: \"" << box.title.toStdString()
                      << "\": " << box.text.toStdString();
        return QMessageBox::Cancel;
    });
}

QString testDataPath(const QString &name)
{
    return QStringLiteral(QUILLET_TEST_DATA_DIR "/") + name;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

QByteArray whatIsAt(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st { };
    if (::lstat(name.constData(), &st) != 0)
        return "nothing";
    if (S_ISFIFO(st.st_mode))
        return "a pipe";
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISLNK(st.st_mode)) {
        char target[256] = {};
        return "a link to " + QByteArray(target, ::readlink(name.constData(), target, 255));
    }
    return "a file of " + QByteArray::number(qint64(st.st_uid)) + ": " + readFile(path);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

}  // namespace testsupport
