#pragma once

// What the viewer's files share; not for use outside the viewer.

#include "page/pageblocks.h"

#include <QAccessibleInterface>
#include <QString>
#include <QStringView>
#include <QTextDocument>

#include <memory>

namespace pageviewer {

// A document that loads nothing: QTextDocument::loadResource reads the named
// file itself when nobody gives it anything.
class ClosedDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl &) override { return {}; }
};

// The page's text read but never laid out: what a screen reader or a copy
// takes from it.
std::unique_ptr<QTextDocument> readDocument(const QString &html);

// A block laid out at `width`, as it is painted.
std::unique_ptr<QTextDocument> laidOutDocument(const QString &html, int width);

inline QByteArrayView blockText(const PageBlocks &page, size_t block)
{
    return page.blockBytes(block);
}

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object);

}  // namespace pageviewer
