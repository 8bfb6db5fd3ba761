#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

// Message boxes with the program's exact titles, texts and buttons. Tests
// preset the next answer so that no box ever waits for a click.
namespace MessageBox {

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text);
void information(QWidget *parent, const QString &title, const QString &text);
void error(QWidget *parent, const QString &title, const QString &text);

// The next box returns this answer without being shown; called again
// before that box, the answers queue up for the boxes after it.
void setNextAnswer(QMessageBox::StandardButton answer);
// Drops answers that no box took.
void clearNextAnswers();

struct Shown {
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};
// What the last box said (answered by the hook or by the user).
std::optional<Shown> lastShown();
void clearLastShown();

// Tests: what a box with no answer queued does instead of waiting for a
// click (fail the test and answer). Empty: the box is shown.
using Unanswered = std::function<QMessageBox::StandardButton(const Shown &)>;
void setUnansweredHandler(Unanswered handler);

}  // namespace MessageBox
