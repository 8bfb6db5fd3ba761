// The navigation pane's views and the date watch.
#include "mainwindow/frmmain.h"

#include "mainwindow/navigationpane.h"
#include "page/pageviewer.h"
#include "store/store.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>

void frmMain::Image1_Click(int index)
{
    if (index < 0 || index >= NavigationPane::kItems)
        return;
    txtDescription->clear();
    pctMenu->setBoldCaption(index);
    switch (index) {
    case 0:
        // The page re-sorts the table, so a kept number would name another task.
        m_selectedTask = 0;
        if (m_hooks.showAlertPage)
            m_hooks.showAlertPage(WebBrowser1);
        WebBrowser1->show();
        WebBrowser1->raise();
        break;
    case 1: showListView(false); break;
    case 2: showListView(true); break;
    case 3:
        new_task();
        showListView(false);
        pctMenu->clearBorders();
        pctMenu->setBoldCaption(1);
        break;
    }
}

void frmMain::showListView(bool deleted)
{
    m_showDeleted = deleted;
    WebBrowser1->hide();
    menu_undelete->setVisible(deleted);
    m_selectedTask = 0;
    drawList();
}

void frmMain::Timer1_Timer()
{
    if (m_timerHolds > 0)
        return;
    const Module1::Days now = Module1::today();
    if (now == m_drawnOn)
        return;
    // A new day: rows due today turn bold and take their new colours.
    drawList();
}
