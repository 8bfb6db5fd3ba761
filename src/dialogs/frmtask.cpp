#include "frmtask.h"

#include "dialogsupport.h"

#include "common/twips.h"
#include "store/number.h"
#include "store/ordering.h"
#include "store/taskfile.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QValidator>

#include <limits>

using Module1::Task;

namespace {

QLabel *makeLabel(QWidget *parent, const QString &text, double left, double top, double width,
                  double height, Qt::Alignment align = Qt::AlignLeft)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(align | Qt::AlignTop);
    placeInTwips(label, left, top, width, height);
    return label;
}

QLineEdit *makeBox(QWidget *parent, const char *name, double left, double top, double width,
                   double height, Qt::Alignment align = Qt::AlignLeft)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAlignment(align | Qt::AlignVCenter);
    // The record holds texts of any length; the default limit would cut a
    // long title from the file.
    box->setMaxLength(std::numeric_limits<int>::max());
    placeInTwips(box, left, top, width, height);
    return box;
}

QPushButton *makeButton(QWidget *parent, const QString &text, const char *name, double left,
                        double top, double width, double height)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    // Not default buttons: Enter in a box must not press "&Ok".
    button->setAutoDefault(false);
    button->setDefault(false);
    placeInTwips(button, left, top, width, height);
    return button;
}

// Pasted or dropped text keeps its line breaks in a line edit, but the task
// file holds each field on one line: every break (CR LF, CR or LF) becomes
// one blank. A validator sees each way text gets in, typed or not.
class OneLineValidator : public QValidator {
public:
    OneLineValidator(const bool &filling, QObject *parent) : QValidator(parent), m_filling(filling) {}

    State validate(QString &input, int &pos) const override
    {
        // prepare shows the record as it is, whatever it holds.
        if (!m_filling && (input.contains(QLatin1Char('\r')) || input.contains(QLatin1Char('\n')))) {
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

    const auto centred = Qt::AlignHCenter;
    Label1 = makeLabel(this, tr("Title:"), 120, 120, 975, 255);
    txtTitle = makeBox(this, "txtTitle", 840, 120, 3015, 285);
    Label2 = makeLabel(this, tr("For:"), 120, 480, 975, 255);
    txtFor = makeBox(this, "txtFor", 840, 480, 3015, 285);
    Label3 = makeLabel(this, tr("Due:"), 120, 840, 975, 255);
    txtDay = makeBox(this, "txtDay", 840, 840, 375, 285, centred);

    lstMonth = new QComboBox(this);
    lstMonth->setObjectName(QStringLiteral("lstMonth"));
    lstMonth->setEditable(false);
    lstMonth->addItems({tr("January"), tr("February"), tr("March"), tr("April"), tr("May"),
                        tr("June"), tr("July"), tr("August"), tr("September"), tr("October"),
                        tr("November"), tr("December")});
    lstMonth->setMaxVisibleItems(12);
    lstMonth->setCurrentIndex(-1);
    placeInTwips(lstMonth, 1320, 840, 1815, 315);

    txtYear = makeBox(this, "txtYear", 3240, 840, 615, 285, centred);
    Label5 = makeLabel(this, tr("(yyyy)"), 3240, 1200, 615, 255, centred);
    Label6 = makeLabel(this, tr("Time:"), 120, 1440, 615, 255);
    txtHour = makeBox(this, "txtHour", 840, 1440, 375, 285, centred);
    Label7[1] = makeLabel(this, QStringLiteral(":"), 1200, 1440, 255, 255, centred);
    txtMinute = makeBox(this, "txtMinute", 1440, 1440, 375, 285, centred);
    Label7[0] = makeLabel(this, QStringLiteral(":"), 1800, 1440, 255, 255, centred);
    txtSecond = makeBox(this, "txtSecond", 2040, 1440, 375, 285, centred);
    Label4 = makeLabel(this, tr("Description:"), 120, 1800, 975, 255);

    txtDescript = new QPlainTextEdit(this);
    txtDescript->setObjectName(QStringLiteral("txtDescript"));
    txtDescript->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtDescript->setTabChangesFocus(true);
    placeInTwips(txtDescript, 120, 2040, 3735, 735);

    Command2 = makeButton(this, tr("&Cancel"), "Command2", 1800, 2880, 975, 255);
    Command1 = makeButton(this, tr("&Ok"), "Command1", 2880, 2880, 975, 255);

    const QList<QWidget *> order = {txtTitle,  txtFor,    txtDay,    lstMonth,
                                    txtYear,   txtHour,   txtMinute, txtSecond,
                                    txtDescript, Command1, Command2};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    dialogsupport::fitCaptions(this, {Label1, Label2, Label3, Label4, Label5, Label6, Label7[0],
                                      Label7[1], Command1, Command2},
                               {{tr("September"), double(lstMonth->width() - 24)}});

    for (QLineEdit *box : {txtTitle, txtFor})
        box->setValidator(new OneLineValidator(m_filling, box));
    connect(txtTitle, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (Task *t = current())
            t->title = text;
    });
    connect(txtFor, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (Task *t = current())
            t->forWhom = text;
    });
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
        if (c == QLatin1Char('\r') && i + 1 < boxText.size() && boxText.at(i + 1) == QLatin1Char('\n'))
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

void frmTask::prepare(const qint16 &Index, bool newTask)
{
    selected = Index;
    Task *t = current();
    m_before.reset();
    if (t)
        m_before = Snapshot{selected - 1, *t, static_cast<qint16>(Module1::taskCount - (newTask ? 1 : 0))};
    // A number outside the table cannot be edited; the boxes show nothing.
    const Task blank;
    const Task &shown = t ? *t : blank;
    Command1->setEnabled(t != nullptr);

    m_filling = true;
    txtTitle->setText(shown.title);
    txtFor->setText(shown.forWhom);
    txtDay->setText(QString::number(shown.day));
    txtYear->setText(QString::number(shown.year));
    txtDescript->setPlainText(descriptionToBox(shown.description));
    txtMinute->setText(QString::number(shown.minute));
    txtHour->setText(QString::number(shown.hour));
    txtSecond->setText(QString::number(shown.second));
    lstMonth->setCurrentIndex(shown.month >= 1 && shown.month <= 12 ? shown.month - 1 : -1);
    m_filling = false;
}

void frmTask::setOnSaved(std::function<void()> drawList) { m_onSaved = std::move(drawList); }

void frmTask::okClicked()
{
    // On a failed save the dialog stays open with every edit in it.
    if (dialogsupport::saveFailed(this))
        return;
    if (dialogsupport::reloadFailed(this)) {
        // The file holds the edits; only the derived texts are stale.
        if (Task *t = current()) {
            t->dueText = Module1::makeDueText(*t);
            t->sortKey = Module1::makeSortKey(*t);
        }
    }
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
    if (visible && !isVisible()) {
        dialogsupport::centreOverParent(this);
        txtTitle->setFocus(Qt::OtherFocusReason);
    }
    QDialog::setVisible(visible);
}

void frmTask::keyPressEvent(QKeyEvent *event)
{
    // Enter presses a button only when that button has the focus.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (auto *button = qobject_cast<QPushButton *>(focusWidget()); button && button->isEnabled())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
