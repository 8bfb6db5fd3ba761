#include "support/testsupport.h"

#include "common/messagebox.h"
#include "store/tables.h"
#include "store/taskfile.h"

#include <QFile>
#include <QLocale>

#include <gtest/gtest.h>

#include <stdexcept>

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

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

}  // namespace testsupport
