#pragma once

#include <QTextBrowser>

// The alert page's viewer. Task texts reach it unescaped, so it loads
// nothing: no image, style sheet or page behind any URL, whatever the scheme,
// and it follows no link.
class PageViewer : public QTextBrowser {
    Q_OBJECT

public:
    explicit PageViewer(QWidget *parent = nullptr);

    QVariant loadResource(int type, const QUrl &name) override;

    // Shows `opening` at once and the whole page once that has been
    // painted, so the window shows something within a frame however long
    // the page is.
    void showPage(const QString &opening, const QString &whole);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_pending;
    bool m_loadQueued = false;
};
