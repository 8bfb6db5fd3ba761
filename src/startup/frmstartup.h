#pragma once

#include "page/alertpage.h"

#include <QWidget>

#include <functional>

class PageViewer;
class QPushButton;

// The borderless alert box the program starts with.
class frmStartup : public QWidget {
    Q_OBJECT

public:
    explicit frmStartup(QWidget *parent = nullptr);

    // Rewrites the page; true when anything was announced.
    bool makepage();
    // Takes a page that was built (and perhaps written) before this window
    // existed, so the start does not build it twice.
    void adoptPage(const PublishedPage &page);
    const PublishedPage &lastPage() const { return m_last; }

    // Shows the page last made, from memory: the file is shared with every
    // other start, which may have written its own page meanwhile.
    void loadPageInto(PageViewer *browser) const;

    // What "&Show all..." opens after hiding this window.
    void setShowAll(std::function<void()> showAll);

    // Two thirds of the screen each way, centred.
    void placeOnScreen();

    PageViewer *WebBrowser1 = nullptr;
    QPushButton *cmdExit = nullptr;
    QPushButton *cmdShowAll = nullptr;

private:
    void cmdShowAll_Click();

    PublishedPage m_last;
    std::function<void()> m_showAll;

    void setVisible(bool visible) override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
