#include "common/messagebox.h"

#include <deque>

namespace MessageBox {
namespace {

std::deque<QMessageBox::StandardButton> g_nextAnswers;
std::optional<Shown> g_lastShown;
Unanswered g_unanswered;

QMessageBox::StandardButton run(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                const QString &text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton)
{
    g_lastShown = Shown{title, text, buttons};
    if (!g_nextAnswers.empty()) {
        const auto answer = g_nextAnswers.front();
        g_nextAnswers.pop_front();
        return answer;
    }
    if (g_unanswered)
        return g_unanswered(*g_lastShown);
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text)
{
    return run(parent, QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes);
}

void information(QWidget *parent, const QString &title, const QString &text)
{
    run(parent, QMessageBox::NoIcon, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void error(QWidget *parent, const QString &title, const QString &text)
{
    run(parent, QMessageBox::Critical, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void setNextAnswer(QMessageBox::StandardButton answer) { g_nextAnswers.push_back(answer); }

void clearNextAnswers() { g_nextAnswers.clear(); }

std::optional<Shown> lastShown() { return g_lastShown; }

void clearLastShown() { g_lastShown.reset(); }

void setUnansweredHandler(Unanswered handler) { g_unanswered = std::move(handler); }

}  // namespace MessageBox
