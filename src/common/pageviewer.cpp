#include "common/pageviewer.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextFormat>
#include <QTextObjectInterface>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// QTextDocument::loadResource reads the named file itself when the viewer
// gives nothing; this document never does.
class ClosedDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl &) override { return {}; }
};

// Qt's image handler opens the file named in <img src> when the document has
// no image for it (a pipe blocks, /dev/zero never ends). This one keeps the
// size the markup asks for and draws nothing.
class BlankImage : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    using QObject::QObject;

    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &format) override
    {
        const QTextImageFormat image = format.toImageFormat();
        return {std::max(0.0, image.width()), std::max(0.0, image.height())};
    }
    void drawObject(QPainter *, const QRectF &, QTextDocument *, int, const QTextFormat &) override
    { }
};

}  // namespace

PageViewer::PageViewer(QWidget *parent) : QTextBrowser(parent)
{
    auto *page = new ClosedDocument(this);
    page->documentLayout()->registerHandler(QTextFormat::ImageObject, new BlankImage(page));
    setDocument(page);
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setSearchPaths({});
    setTabChangesFocus(true);
    setFrameShape(QFrame::NoFrame);
    // Qt breaks a word wider than the line in time that grows with the square
    // of its length (120,000 letters: 1.9 s), and an escaped field can be one
    // such word. A browser lets it run past the edge; so does this.
    setWordWrapMode(QTextOption::WordWrap);
}

QVariant PageViewer::loadResource(int, const QUrl &) { return {}; }

#include "pageviewer.moc"

void PageViewer::showPage(const QString &opening, const QString &whole)
{
    setHtml(opening);
    m_pending = opening.size() == whole.size() ? QString() : whole;
}

void PageViewer::paintEvent(QPaintEvent *event)
{
    QTextBrowser::paintEvent(event);
    if (m_pending.isEmpty() || m_loadQueued)
        return;
    m_loadQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_loadQueued = false;
        if (m_pending.isEmpty())
            return;
        const int scrolled = verticalScrollBar()->value();
        setHtml(std::exchange(m_pending, QString()));
        verticalScrollBar()->setValue(scrolled);
    });
}
