#pragma once

#include "mainwindow/frmmain.h"
#include "mainwindow/tasklistcanvas.h"
#include "store/store.h"
#include "support/taskfilebuilder.h"
#include "support/tempfolder.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

// Each test runs in its own directory, where the window reads tasks.txt.
class MainWindowTest : public testsupport::InTempFolder<> {
protected:
    void TearDown() override
    {
        m_window.reset();
        InTempFolder::TearDown();
    }

    // A task due `days` from the pinned today at 09:00.
    static void addTask(const QString &title, const QString &forWhom, int days,
                        const QString &deleted = QStringLiteral("N"),
                        const QString &description = {})
    {
        using namespace std::chrono;
        const year_month_day due{sys_days{testsupport::kToday} + std::chrono::days{days}};
        Module1::Task &t = Module1::tasks[static_cast<size_t>(Module1::taskCount++)];
        t.title = title;
        t.forWhom = forWhom;
        t.year = static_cast<qint16>(int(due.year()));
        t.month = static_cast<qint16>(unsigned(due.month()));
        t.day = static_cast<qint16>(unsigned(due.day()));
        t.hour = 9;
        t.minute = 0;
        t.second = 0;
        t.deleted = deleted;
        t.description = description;
    }
    static void addRule(qint16 interval, qint32 color, const QString &unit = QStringLiteral("d"))
    {
        Module1::AlertRule &r = Module1::alertRules[static_cast<size_t>(Module1::alertRuleCount++)];
        r.interval = interval;
        r.unit = unit;
        r.color = color;
        r.popup = false;
    }

    // Writes the tables to tasks.txt, through the test's own writer rather
    // than the store's, and opens the window on them.
    frmMain &open(frmMainHooks hooks = {})
    {
        std::vector<testsupport::TaskLines> lines;
        for (int i = 0; i < Module1::taskCount; ++i) {
            const Module1::Task &t = Module1::tasks[static_cast<size_t>(i)];
            QString description = t.description;
            lines.push_back({t.title, t.forWhom, t.day, t.month, t.year, t.hour, t.minute, t.second,
                             t.deleted,
                             description.replace(QStringLiteral("\r\n"), QStringLiteral("|~"))});
        }
        std::vector<testsupport::RuleLines> rules;
        for (int i = 0; i < Module1::alertRuleCount; ++i) {
            const Module1::AlertRule &r = Module1::alertRules[static_cast<size_t>(i)];
            rules.push_back({r.interval, r.unit, r.color, r.popup});
        }
        testsupport::writeFile(QStringLiteral("tasks.txt"), testsupport::taskFile(lines, rules));
        m_window = std::make_unique<frmMain>(std::move(hooks));
        m_window->exitProgram = [this] { ++exits; };
        m_window->resize(900, 600);
        return *m_window;
    }
    frmMain &window() { return *m_window; }

    int rowCount() const { return m_window->lstContainer->elementCount() - 1; }
    const ListRow &row(int k) const { return m_window->lstContainer->row(k); }
    QString title(int k) const { return row(k).cell(ListColumn::Title).caption; }
    // The row showing the task with this title, or -1.
    int rowOf(const QString &t) const
    {
        for (int k = 1; k <= rowCount(); ++k)
            if (title(k) == t)
                return k;
        return -1;
    }

    int exits = 0;

private:
    std::unique_ptr<frmMain> m_window;
};
