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
};
