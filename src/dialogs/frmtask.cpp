#include "frmtask.h"

#include "dialogsupport.h"

#include "common/messagebox.h"
#include "common/twips.h"
#include "store/number.h"
#include "store/ordering.h"
#include "store/taskfile.h"
#include "store/taskidentity.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QValidator>

using Module1::Task;

namespace {

using Design = dialogsupport::ControlDesign<frmTask>;
using Label7Element = dialogsupport::LabelArrayElement<frmTask>;
constexpr Qt::Alignment kCentred = Qt::AlignHCenter;
// A list that another writer changes again and again is not waited for
// forever.
constexpr int kSaveAttempts = 5;

// The form as designed, in the order of creation.
const Design kControls[] = {
    {&frmTask::Label1, {"Label1", QT_TRANSLATE_NOOP("frmTask", "Title:"), 120, 120, 975, 255, 11}},
    {&frmTask::txtTitle, {"txtTitle", nullptr, 840, 120, 3015, 285, 0}},
    {&frmTask::Label2, {"Label2", QT_TRANSLATE_NOOP("frmTask", "For:"), 120, 480, 975, 255, 12}},
    {&frmTask::txtFor, {"txtFor", nullptr, 840, 480, 3015, 285, 1}},
    {&frmTask::Label3, {"Label3", QT_TRANSLATE_NOOP("frmTask", "Due:"), 120, 840, 975, 255, 13}},
    {&frmTask::txtDay, {"txtDay", nullptr, 840, 840, 375, 285, 2, kCentred}},
    {&frmTask::lstMonth, {"lstMonth", nullptr, 1320, 840, 1815, 315, 3}},
    {&frmTask::txtYear, {"txtYear", nullptr, 3240, 840, 615, 285, 4, kCentred}},
    {&frmTask::Label5,
     {"Label5", QT_TRANSLATE_NOOP("frmTask", "(yyyy)"), 3240, 1200, 615, 255, 15, kCentred}},
    {&frmTask::Label6, {"Label6", QT_TRANSLATE_NOOP("frmTask", "Time:"), 120, 1440, 615, 255, 16}},
    {&frmTask::txtHour, {"txtHour", nullptr, 840, 1440, 375, 285, 5, kCentred}},
    {Label7Element{&frmTask::Label7, 1}, {"Label7_1", ":", 1200, 1440, 255, 255, 18, kCentred}},
    {&frmTask::txtMinute, {"txtMinute", nullptr, 1440, 1440, 375, 285, 6, kCentred}},
    {Label7Element{&frmTask::Label7, 0}, {"Label7_0", ":", 1800, 1440, 255, 255, 17, kCentred}},
    {&frmTask::txtSecond, {"txtSecond", nullptr, 2040, 1440, 375, 285, 7, kCentred}},
    {&frmTask::Label4,
     {"Label4", QT_TRANSLATE_NOOP("frmTask", "Description:"), 120, 1800, 975, 255, 14}},
    {&frmTask::txtDescript, {"txtDescript", nullptr, 120, 2040, 3735, 735, 8}},
    {&frmTask::Command2,
     {"Command2", QT_TRANSLATE_NOOP("frmTask", "&Cancel"), 1800, 2880, 975, 255, 10}},
    {&frmTask::Command1,
     {"Command1", QT_TRANSLATE_NOOP("frmTask", "&Ok"), 2880, 2880, 975, 255, 9}},
};

// Pasted or dropped text keeps its line breaks in a line edit, but the task
// file holds each field on one line: every break (CR LF, CR or LF) becomes
// one blank. A validator sees each way text gets in, typed or not.
class OneLineValidator : public QValidator {
public:
    OneLineValidator(const bool &filling, QObject *parent) : QValidator(parent), m_filling(filling)
    { }

    State validate(QString &input, int &pos) const override
    {
        // prepare shows the record as it is, whatever it holds.
        const bool broken = input.contains(QLatin1Char('\r')) || input.contains(QLatin1Char('\n'));
        if (broken && !m_filling) {
            pos = int(joinLines(input.left(pos)).size());
            input = joinLines(input);
        }
        return Acceptable;
    }

private:
    static QString joinLines(QString text)
    {
        return text.replace(QLatin1String("\r\n"), QLatin1String(" "))
            .replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
    }

    const bool &m_filling;
};

}  // namespace

frmTask::frmTask(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("New / Edit task"));
    dialogsupport::makeFixedDialog(this, 3975, 3225);
    const QList<QWidget *> captioned = dialogsupport::buildControls(*this, kControls);

    lstMonth->addItems({tr("January"), tr("February"), tr("March"), tr("April"), tr("May"),
                        tr("June"), tr("July"), tr("August"), tr("September"), tr("October"),
                        tr("November"), tr("December")});
    lstMonth->setMaxVisibleItems(12);
    lstMonth->setCurrentIndex(-1);
    txtDescript->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtDescript->setTabChangesFocus(true);
    for (QPushButton *button : {Command1, Command2}) {
        // Not default buttons: Enter in a box must not press "&Ok".
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    dialogsupport::fitCaptions(this, captioned,
                               {{tr("September"), double(lstMonth->width() - 24)}});
    dialogsupport::clickAtOnceOnAccessKeys(this);
    for (QLineEdit *box : {txtTitle, txtFor})
        box->setValidator(new OneLineValidator(m_filling, box));

    // Screen readers: each input named for the part of the task it holds;
    // the label beside it, where there is one, is its buddy.
    const struct {
        QWidget *box;
        QLabel *beside;
        QString name;
    } inputs[] = {
        {txtTitle, Label1, tr("Title")},          {txtFor, Label2, tr("For")},
        {txtDay, Label3, tr("Due day")},          {lstMonth, nullptr, tr("Due month")},
        {txtYear, nullptr, tr("Due year")},       {txtHour, Label6, tr("Hour")},
        {txtMinute, nullptr, tr("Minute")},       {txtSecond, nullptr, tr("Second")},
        {txtDescript, Label4, tr("Description")},
    };
    for (const auto &input : inputs) {
        if (input.beside)
            input.beside->setBuddy(input.box);
        input.box->setAccessibleName(input.name);
    }
    txtYear->setAccessibleDescription(Label5->text());
    connectBoxes();
}

void frmTask::connectBoxes()
{
    connectTextBox(txtTitle, &Task::title);
    connectTextBox(txtFor, &Task::forWhom);
    connectNumberBox(txtDay, &Task::day);
    connectNumberBox(txtYear, &Task::year);
    connectNumberBox(txtHour, &Task::hour);
    connectNumberBox(txtMinute, &Task::minute);
    connectNumberBox(txtSecond, &Task::second);
    connect(lstMonth, &QComboBox::currentIndexChanged, this, [this](int index) {
        // No item chosen (month 0 or a month outside 1..12 from the file):
        // the stored month stays as it is.
        if (Task *t = current(); t && index >= 0)
            t->month = static_cast<qint16>(index + 1);
    });
    connect(txtDescript, &QPlainTextEdit::textChanged, this, [this] {
        // The box shows a lone LF from the file as a break too; writing the
        // shown text back would turn it into CR LF before anyone typed.
        if (m_filling)
            return;
        if (Task *t = current())
            t->description = descriptionFromBox(txtDescript->document()->toRawText());
    });
    connect(Command1, &QPushButton::clicked, this, &frmTask::okClicked);
    connect(Command2, &QPushButton::clicked, this, &frmTask::reject);
}

void frmTask::connectTextBox(QLineEdit *box, QString Task::*field)
{
    connect(box, &QLineEdit::textChanged, this, [this, field](const QString &text) {
        if (Task *t = current())
            t->*field = text;
    });
}

void frmTask::connectNumberBox(QLineEdit *box, qint16 Task::*field)
{
    connect(box, &QLineEdit::textChanged, this, [this, field](const QString &text) {
        if (Task *t = current())
            t->*field = Module1::toInt16(Module1::textToNumber(text));
    });
}

Task *frmTask::current()
{
    if (selected < 1 || selected > Module1::kTaskSlots)
        return nullptr;
    return &Module1::tasks[selected - 1];
}

QString frmTask::descriptionFromBox(const QString &boxText)
{
    QString out;
    out.reserve(boxText.size() + 16);
    for (qsizetype i = 0; i < boxText.size(); ++i) {
        const QChar c = boxText.at(i);
        if (c == QLatin1Char('\r') && i + 1 < boxText.size() &&
            boxText.at(i + 1) == QLatin1Char('\n'))
            continue;  // the LF that follows writes the pair
        if (c == QLatin1Char('\n') || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            out += QLatin1String("\r\n");
        else
            out += c;
    }
    return out;
}

QString frmTask::descriptionToBox(const QString &stored)
{
    QString shown = stored;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

void frmTask::prepare(qint16 Index, bool newTask)
{
    selected = Index;
    Task *t = current();
    m_before.reset();
    m_readAgain = false;
    m_saved.reset();
    if (t)
        m_before = Snapshot{selected - 1, *t,
                            static_cast<qint16>(Module1::taskCount - (newTask ? 1 : 0)), newTask};
    // A number outside the table cannot be edited; the boxes show nothing.
    const Task blank;
    const Task &shown = t ? *t : blank;
    Command1->setEnabled(t != nullptr);

    m_filling = true;
    txtTitle->setMaxLength(dialogsupport::roomFor(shown.title));
    txtTitle->setText(shown.title);
    txtFor->setMaxLength(dialogsupport::roomFor(shown.forWhom));
    txtFor->setText(shown.forWhom);
    txtDay->setText(QString::number(shown.day));
    txtYear->setText(QString::number(shown.year));
    const QString description = descriptionToBox(shown.description);
    txtDescript->setMaxLength(dialogsupport::roomFor(description));
    txtDescript->setPlainText(description);
    txtMinute->setText(QString::number(shown.minute));
    txtHour->setText(QString::number(shown.hour));
    txtSecond->setText(QString::number(shown.second));
    lstMonth->setCurrentIndex(shown.month >= 1 && shown.month <= 12 ? shown.month - 1 : -1);
    m_filling = false;
}

void frmTask::setOnSaved(std::function<void()> drawList) { m_onSaved = std::move(drawList); }

void frmTask::okClicked()
{
    m_saved.reset();
    for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
        // The task keeps its calendar UID through the edit, whatever changed.
        std::vector<Module1::UidMove> moves;
        if (const Task *t = current(); t && m_before && !m_before->newTask)
            moves.push_back({Module1::printOf(m_before->task), Module1::printOf(*t)});
        switch (dialogsupport::save(this, false, moves)) {
        case dialogsupport::Saved::Yes: finishOk(); return;
        case dialogsupport::Saved::No:
        case dialogsupport::Saved::ReadAgain:  // not asked for
            return;                            // still open with every edit in it
        case dialogsupport::Saved::ChangedOutside: break;
        }
        if (!moveEditToListReadAgain())
            return;
    }
    MessageBox::error(this, QStringLiteral("Quillet"),
                      tr("%1 keeps changing outside Quillet, so your edit was not saved.\r\n"
                         "It is still in the editor: Ok tries again, Cancel drops it.")
                          .arg(Module1::taskFilePath()));
}

bool frmTask::moveEditToListReadAgain()
{
    using namespace Module1;
    const Task *t = current();
    if (!t || !m_before)
        return false;
    const Task typed = *t;
    // A file that cannot be read now leaves the tables, edit included, as
    // they were: Ok tries again.
    if (dialogsupport::reloadFailed(this))
        return false;
    m_readAgain = true;
    const bool wasNew = m_before->newTask;
    // The task as the editor found it, if no one changed or recycled it.
    if (const int slot = wasNew ? -1 : findSameTask(m_before->task); slot >= 0) {
        m_before = Snapshot{slot, tasks[size_t(slot)], taskCount, false};
        Task edited = typed;
        edited.deleted = tasks[size_t(slot)].deleted;
        tasks[size_t(slot)] = edited;
        selected = static_cast<qint16>(slot + 1);
        return true;
    }
    if (taskCount >= kTaskSlots) {
        // The boxes keep the text; nothing takes it any more.
        m_before.reset();
        selected = 0;
        Command1->setEnabled(false);
        MessageBox::error(this, QStringLiteral("Quillet"),
                          tr("%1 was changed outside Quillet while you edited this task, and "
                             "it is now full: your edit cannot be saved as a new task.\r\n"
                             "Cancel drops it.")
                              .arg(taskFilePath()));
        return false;
    }
    // A new task joins the list as it is now; an edit whose task is gone
    // or was changed there becomes one, so that neither version is lost.
    const int fresh = taskCount;
    m_before = Snapshot{fresh, tasks[size_t(fresh)], taskCount, true};
    tasks[size_t(fresh)] = typed;
    ++taskCount;
    selected = static_cast<qint16>(fresh + 1);
    if (wasNew)
        return true;
    MessageBox::information(
        this, QStringLiteral("Quillet"),
        tr("%1 was changed outside Quillet while you edited this task, and this task was "
           "changed or removed there.\r\n"
           "Your edit is still in the editor: Ok saves it as a new task, Cancel drops it.")
            .arg(taskFilePath()));
    return false;
}

void frmTask::finishOk()
{
    if (dialogsupport::reloadFailed(this)) {
        // The file holds the edits; only the derived texts are stale.
        if (Task *t = current()) {
            t->dueText = Module1::makeDueText(*t);
            t->sortKey = Module1::makeSortKey(*t);
        }
    }
    // Taken before the list's redraw sorts the table under it.
    if (const Task *t = current())
        m_saved = *t;
    m_before.reset();
    done(QDialog::Accepted);
    if (m_onSaved)
        m_onSaved();
}

void frmTask::reject()
{
    selected = -1;
    if (dialogsupport::reloadFailed(this)) {
        // The tables were left as they were, edits included: undo them here.
        if (m_before) {
            Module1::tasks[m_before->slot] = m_before->task;
            Module1::taskCount = m_before->count;
        }
    }
    m_before.reset();
    QDialog::reject();
}

void frmTask::setVisible(bool visible)
{
    if (visible && !isVisible())
        dialogsupport::beforeShowing(this, txtTitle);
    QDialog::setVisible(visible);
}

void frmTask::keyPressEvent(QKeyEvent *event)
{
    // Enter presses a button only when that button has the focus.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (auto *button = qobject_cast<QPushButton *>(focusWidget());
            button && button->isEnabled())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
