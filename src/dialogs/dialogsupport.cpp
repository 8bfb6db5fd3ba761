#include "dialogsupport.h"

#include "common/filereport.h"
#include "common/messagebox.h"
#include "common/twips.h"
#include "store/listchange.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShortcutEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>

namespace dialogsupport {

namespace {

class AccessKeyClicks : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Shortcut)
            return false;
        auto *button = static_cast<QPushButton *>(watched);
        // A key two buttons share moves the focus between them, as Qt does.
        if (static_cast<QShortcutEvent *>(event)->isAmbiguous() || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

}  // namespace

void clickAtOnceOnAccessKeys(QDialog *dialog)
{
    auto *clicks = new AccessKeyClicks(dialog);
    for (QPushButton *button : dialog->findChildren<QPushButton *>())
        button->installEventFilter(clicks);
}

QString captionOf(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return {};
}

void applyLook(QWidget *control, const Look &look, const char *context)
{
    control->setObjectName(QString::fromLatin1(look.name));
    const QString caption =
        look.caption ? QCoreApplication::translate(context, look.caption) : QString();
    if (auto *label = qobject_cast<QLabel *>(control)) {
        label->setText(caption);
        label->setAlignment(look.align | Qt::AlignTop);
    } else if (auto *box = qobject_cast<QLineEdit *>(control)) {
        box->setAlignment(look.align | Qt::AlignVCenter);
        box->setMaxLength(kLongestText);
    } else if (auto *button = qobject_cast<QAbstractButton *>(control)) {
        button->setText(caption);
    } else if (auto *frame = qobject_cast<QGroupBox *>(control)) {
        frame->setTitle(caption);
    }
    placeInTwips(control, look.left, look.top, look.width, look.height);
}

QList<QWidget *> arrangeControls(QList<std::pair<int, QWidget *>> controls)
{
    std::stable_sort(controls.begin(), controls.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QWidget *previous = nullptr;
    QList<QWidget *> captioned;
    for (const auto &entry : controls) {
        QWidget *control = entry.second;
        if (control->focusPolicy() & Qt::TabFocus) {
            if (previous)
                QWidget::setTabOrder(previous, control);
            previous = control;
        }
        if (!captionOf(control).isEmpty())
            captioned.append(control);
    }
    return captioned;
}

void makeFixedDialog(QDialog *dialog, double widthTwips, double heightTwips)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFixedSize(twipsToPixels(widthTwips), twipsToPixels(heightTwips));
    dialog->setSizeGripEnabled(false);
    dialog->setModal(true);
}

QPoint centredPosition(const QSize &size, const QRect &over, const QRect &screen)
{
    QRect r(QPoint(0, 0), size);
    r.moveCenter(over.center());
    if (!screen.isEmpty()) {
        r.moveRight(std::min(r.right(), screen.right()));
        r.moveBottom(std::min(r.bottom(), screen.bottom()));
        r.moveLeft(std::max(r.left(), screen.left()));
        r.moveTop(std::max(r.top(), screen.top()));
    }
    return r.topLeft();
}

void beforeShowing(QDialog *dialog, QWidget *first)
{
    const QWidget *owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    if (owner && !owner->isVisible())
        owner = nullptr;
    QScreen *screen = owner ? owner->screen() : dialog->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QRect over = owner ? owner->frameGeometry() : available;
    // The frame's size is known only once the window has been shown; the
    // first time it is the client size, a few pixels off at most.
    dialog->move(centredPosition(dialog->frameGeometry().size(), over, available));
    first->setFocus(Qt::OtherFocusReason);
}

double captionWidth(const QFont &font, const QString &text)
{
    QString shown = text;
    // "&&" draws one ampersand; a single '&' only marks the access key.
    shown.replace(QLatin1String("&&"), QString(QChar(0x1)));
    shown.remove(QLatin1Char('&'));
    shown.replace(QChar(0x1), QLatin1Char('&'));
    return QFontMetricsF(font).horizontalAdvance(shown);
}

QFont fittingFont(const QList<Caption> &captions)
{
    auto fits = [&](const QFont &font) {
        return std::all_of(captions.begin(), captions.end(),
                           [&](const Caption &c) { return captionWidth(font, c.text) <= c.width; });
    };
    // Normal width first, shrinking only a little; then the narrower cuts
    // (a real semi-condensed face before a synthetic condensed one), which
    // keep the letters taller than a much smaller normal font would.
    static constexpr double kNormalSizes[] = {8.25, 8.0, 7.75, 7.5};
    static constexpr double kNarrowSizes[] = {8.25, 8.0, 7.75, 7.5, 7.25, 7.0};
    for (double size : kNormalSizes) {
        const QFont font = sansFont(size);
        if (fits(font))
            return font;
    }
    QFont font;
    for (int stretch : {int(QFont::SemiCondensed), int(QFont::Condensed)}) {
        for (double size : kNarrowSizes) {
            font = sansFont(size);
            font.setStretch(stretch);
            if (fits(font))
                return font;
        }
    }
    return font;
}

double textRoom(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->contentsRect().width() - 2.0 * label->margin();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        opt.rect = button->rect();
        const auto contents = qobject_cast<const QCheckBox *>(button)
                                  ? QStyle::SE_CheckBoxContents
                                  : QStyle::SE_PushButtonContents;
        return button->style()->subElementRect(contents, &opt, button).width();
    }
    return widget->width();
}

void fitCaptions(QWidget *dialog, const QList<QWidget *> &captioned, const QList<Caption> &extra)
{
    QList<Caption> captions = extra;
    for (const QWidget *w : captioned)
        captions.append({captionOf(w), textRoom(w)});
    const QFont font = fittingFont(captions);
    dialog->setFont(font);
    // Last resort on a very wide font: the full text stays in the tool tip.
    for (QWidget *w : captioned) {
        auto *label = qobject_cast<QLabel *>(w);
        if (!label || captionWidth(font, label->text()) <= textRoom(label))
            continue;
        label->setToolTip(label->text());
        label->setText(
            QFontMetricsF(font).elidedText(label->text(), Qt::ElideRight, textRoom(label)));
    }
}

int roomFor(const QString &text)
{
    return int(std::clamp<qsizetype>(text.size(), kLongestText, std::numeric_limits<int>::max()));
}

namespace {

// `text` cut to `room` characters, never between the halves of a pair.
QString cutTo(const QString &text, int room)
{
    if (text.size() <= room)
        return text;
    if (room <= 0)
        return {};
    return text.left(text.at(room - 1).isHighSurrogate() ? room - 1 : room);
}

}  // namespace

int LimitedTextEdit::length() const { return document()->characterCount() - 1; }

int LimitedTextEdit::room() const
{
    const QTextCursor cursor = textCursor();
    return m_maxLength - length() + (cursor.selectionEnd() - cursor.selectionStart());
}

void LimitedTextEdit::insertFromMimeData(const QMimeData *source)
{
    if (!source || isReadOnly())
        return;
    const QString text = source->text();
    if (text.size() <= room()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    // Cut before it reaches the layout, which is where the time goes.
    QMimeData cut;
    cut.setText(cutTo(text, room()));
    QPlainTextEdit::insertFromMimeData(&cut);
}

void LimitedTextEdit::keyPressEvent(QKeyEvent *event)
{
    const bool breaksLine = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const QString typed = event->text();
    // Shortcuts (Ctrl+V, ...) carry control characters, or none.
    const bool inserts = breaksLine || (!typed.isEmpty() && typed.at(0).isPrint());
    if (inserts && !isReadOnly() && room() < std::max<qsizetype>(1, typed.size())) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void LimitedTextEdit::inputMethodEvent(QInputMethodEvent *event)
{
    if (event->commitString().size() <= room()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent cut(event->preeditString(), event->attributes());
    cut.setCommitString(cutTo(event->commitString(), room()), event->replacementStart(),
                        event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&cut);
}

namespace {
TaskFileReader g_reader = nullptr;
}

Saved save(QWidget *parent, bool readAgain, const std::vector<Module1::UidMove> &moves)
{
    const Module1::FileStatus status = Module1::saveTasksAndUids(moves);
    if (!readAgain && status.code == Module1::FileStatus::ChangedOutside)
        return Saved::ChangedOutside;
    if (!reportFileFailure(parent, status))
        return Saved::Yes;
    if (status.code != Module1::FileStatus::ChangedOutside)
        return Saved::No;
    // What is on disk now wins over the edit, which the box said was lost.
    reloadFailed(parent);
    return Saved::ReadAgain;
}

bool reloadFailed(QWidget *parent)
{
    return reportFileFailure(parent,
                             g_reader ? g_reader(Module1::taskFilePath()) : Module1::loadTasks());
}

void setTaskFileReader(TaskFileReader reader) { g_reader = reader; }

}  // namespace dialogsupport
