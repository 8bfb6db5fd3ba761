#include "page/pageviewer.h"

#include "common/itemaccessible.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFormat>
#include <QTextFrame>
#include <QTextObjectInterface>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// QTextDocument::loadResource reads the named file itself when nobody
// gives it anything; this document never does.
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

// The page's text read but never laid out: what a screen reader or a copy
// takes from it.
std::unique_ptr<QTextDocument> readDocument(const QString &html)
{
    auto doc = std::make_unique<ClosedDocument>();
    doc->setUndoRedoEnabled(false);
    doc->setHtml(html);
    return doc;
}

constexpr qsizetype kLongestBrokenWord = 32767;

// The longest run of the markup without a space: no word on the page is longer.
qsizetype longestWord(const QString &html)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (QChar c : html) {
        run = c.isSpace() ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

// A block laid out at `width`, once: the width is set before the text, as
// every change of either lays the whole document out again. The page keeps
// the application's font in every window, as it always has.
std::unique_ptr<QTextDocument> laidOutDocument(const QString &html, int width)
{
    auto doc = std::make_unique<ClosedDocument>();
    doc->documentLayout()->registerHandler(QTextFormat::ImageObject, new BlankImage(doc.get()));
    doc->setUndoRedoEnabled(false);
    // Qt breaks a word wider than the line in time that grows with the square
    // of its length (120,000 letters: 1.9 s). Up to what the task editor
    // takes, a word is broken as in a browser; a longer one runs past the edge.
    if (longestWord(html) > kLongestBrokenWord) {
        QTextOption option = doc->defaultTextOption();
        option.setWrapMode(QTextOption::WordWrap);
        doc->setDefaultTextOption(option);
    }
    // Links take the application's link colour as they are read; the page
    // keeps its own, whatever the theme.
    if (html.contains(QLatin1String("<a"), Qt::CaseInsensitive))
        doc->setDefaultStyleSheet(QStringLiteral("a { color: %1 }")
                                      .arg(PageViewer::pagePalette().color(QPalette::Link).name()));
    doc->setTextWidth(width);
    doc->setHtml(html);
    return doc;
}

void setWidth(QTextDocument &doc, int width)
{
    if (doc.textWidth() != width)
        doc.setTextWidth(width);
}

// The top of a document's first frame (a task block's table), or its
// margin when it has none.
double firstFrameTop(QTextDocument &doc)
{
    for (auto it = doc.rootFrame()->begin(); !it.atEnd(); ++it) {
        if (QTextFrame *frame = it.currentFrame())
            return doc.documentLayout()->frameBoundingRect(frame).top();
    }
    return doc.documentMargin();
}

QStringView blockText(const PageBlocks &page, size_t block)
{
    const PageBlocks::Block &b = page.blocks[block];
    return QStringView(page.markup).sliced(b.from, b.to - b.from);
}

// Line and paragraph breaks and objects read as blanks in a name.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator ||
            c == QChar::ObjectReplacementCharacter || c == u'\n')
            c = u' ';
    }
    return text.simplified();
}

// One task block as a screen reader sees it.
class PageItemAccessible : public ItemAccessible {
public:
    PageItemAccessible(PageViewer *viewer, int block) : ItemAccessible(viewer), m_block(block) { }

    PageViewer *viewer() const { return static_cast<PageViewer *>(m_owner.data()); }
    bool isValid() const override { return m_owner && m_block < viewer()->blockCount(); }
    QString name() const override { return viewer()->blockName(m_block); }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = viewer()->blockRect(m_block);
        return QRect(viewer()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.focusable = true;
        s.focused = viewer()->hasFocus() && viewer()->currentBlock() == m_block;
        s.invisible = !viewer()->isVisible();
        s.offscreen = !viewer()->viewport()->rect().intersects(viewer()->blockRect(m_block));
        return s;
    }

private:
    int m_block;
};

// The viewer as a list named by the page's heading, its items the task
// blocks (the heading itself and the scroll bars are left out).
class PageViewerAccessible : public QAccessibleWidget {
public:
    explicit PageViewerAccessible(PageViewer *viewer) : QAccessibleWidget(viewer, QAccessible::List)
    { }

    PageViewer *viewer() const { return static_cast<PageViewer *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty() && viewer()->blockCount() > 0)
            text = viewer()->blockName(0);
        return text;
    }
    int childCount() const override { return std::max(0, viewer()->blockCount() - 1); }
    QAccessibleInterface *child(int index) const override
    {
        const int block = index + 1;
        if (index < 0 || block >= viewer()->blockCount())
            return nullptr;
        return m_items.item(block, [&] { return new PageItemAccessible(viewer(), block); });
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const int block = m_items.keyOf(child);
        return block > 0 && block < viewer()->blockCount() ? block - 1 : -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint p = viewer()->viewport()->mapFromGlobal(QPoint(x, y));
        for (int block = 1; block < viewer()->blockCount(); ++block)
            if (viewer()->blockRect(block).contains(p))
                return child(block - 1);
        return nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        const int block = viewer()->currentBlock();
        return viewer()->hasFocus() && block > 0 ? child(block - 1) : nullptr;
    }

private:
    mutable ItemAccessibleCache m_items;
};

QAccessibleInterface *pageViewerAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("PageViewer") && object && object->isWidgetType())
        return new PageViewerAccessible(static_cast<PageViewer *>(object));
    return nullptr;
}

}  // namespace

#include "pageviewer.moc"

PageViewer::PageViewer(QWidget *parent) : QAbstractScrollArea(parent)
{
    installAccessibleFactoryOnce<pageViewerAccessibleFactory>();
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // Opaque itself too, so that what it covers (the list behind the alert
    // view) is not painted under it.
    setAutoFillBackground(true);
    // The scroll bars and the strip around follow the theme; the page does not.
    viewport()->setAutoFillBackground(false);
    // For the pointing hand over links.
    viewport()->setMouseTracking(true);
    viewport()->setCursor(Qt::ArrowCursor);
    verticalScrollBar()->setSingleStep(20);
    // A step down that meets the end of the page as estimated goes as far
    // as the page really reaches.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this](int action) {
        QScrollBar *v = verticalScrollBar();
        const int step = action == QAbstractSlider::SliderSingleStepAdd ? v->singleStep()
                         : action == QAbstractSlider::SliderPageStepAdd ? v->pageStep()
                                                                        : 0;
        const int target = v->value() + step;
        if (step == 0 || target <= v->maximum())
            return;
        layOutDownTo(target + viewport()->height());
        v->setSliderPosition(std::min(target, v->maximum()));
    });
    horizontalScrollBar()->setSingleStep(20);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

PageViewer::~PageViewer() = default;

QPalette PageViewer::pagePalette()
{
    // What a browser shows a page without styles in.
    QPalette p(Qt::black, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Link, QColor(0, 0, 255));
    p.setColor(QPalette::LinkVisited, QColor(255, 0, 255));
    return p;
}

void PageViewer::showPage(const PageBlocks &page)
{
    if (page == m_page) {
        toTop();
        return;
    }
    const PageBlocks previous = std::exchange(m_page, page);
    std::vector<Slot> kept = std::exchange(m_slots, {});
    std::unique_ptr<QTextDocument> sample = std::move(m_sample);
    const int width = m_width;
    reset();
    // A page that changed in a few tasks keeps the blocks that did not, laid
    // out as they were, as long as the page around them is the same (and
    // was measured on its sample block).
    if (width > 0 && !kept.empty() && !m_slots.empty() && (sample || m_slots.size() < 2) &&
        previous.opening == m_page.opening && previous.closing == m_page.closing &&
        previous.sample == m_page.sample && blockText(previous, 0) == blockText(m_page, 0)) {
        QHash<QStringView, size_t> byText;
        for (size_t k = 1; k < previous.blocks.size(); ++k)
            byText.insert(blockText(previous, k), k);
        m_slots.front() = std::move(kept.front());
        m_sample = std::move(sample);
        for (size_t k = 1; k < m_slots.size(); ++k) {
            const auto it = byText.constFind(blockText(m_page, k));
            if (it == byText.cend()) {
                m_slots[k].height = m_estimate;
                continue;
            }
            m_slots[k] = std::move(kept[it.value()]);
            byText.erase(it);
            if (m_slots[k].exact)
                m_widest = std::max(m_widest, m_slots[k].doc->size().width());
        }
        m_width = width;
        m_widest = std::max(m_widest, m_slots.front().doc->size().width());
        updateTops();
    }
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&event);
    }
    layOutVisible();
    viewport()->update();
}

void PageViewer::toTop()
{
    m_anchor = m_end = {};
    m_selecting = false;
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    makeCurrent(1);
    viewport()->update();
}

void PageViewer::reset()
{
    m_anchor = m_end = {};
    m_selecting = false;
    m_slots.clear();
    m_sample.reset();
    m_slots.resize(m_page.blocks.size());
    m_width = -1;
    m_widest = 0;
    m_tops.assign(m_slots.size() + 1, 0.0);
    m_current = m_slots.size() > 1 ? 1 : 0;
    {
        const QSignalBlocker blockV(verticalScrollBar());
        const QSignalBlocker blockH(horizontalScrollBar());
        verticalScrollBar()->setValue(0);
        horizontalScrollBar()->setValue(0);
    }
}

bool PageViewer::isLaidOut(int block) const
{
    return block >= 0 && block < blockCount() && m_slots[size_t(block)].exact;
}

void PageViewer::calibrate()
{
    Slot &head = m_slots.front();
    if (!head.doc)
        head.doc = laidOutDocument(m_page.blockHtml(0), m_width);
    setWidth(*head.doc, m_width);
    m_margin = head.doc->documentMargin();
    head.docTop = 0;
    head.height = head.doc->size().height() - m_margin;
    head.exact = true;
    m_widest = head.doc->size().width();
    if (m_slots.size() < 2)
        return;
    // The heading and a sample block as one page: where the page puts a
    // task's table after what comes before it, and how high a block is.
    if (!m_sample) {
        QString html = m_page.markup.left(m_page.blocks.front().to);
        if (m_page.sample.isEmpty()) {
            const PageBlocks::Block &first = m_page.blocks[1];
            html += QStringView(m_page.markup).sliced(first.from, first.to - first.from);
        } else {
            html += m_page.sample;
        }
        html += m_page.closing;
        m_sample = laidOutDocument(html, m_width);
    }
    setWidth(*m_sample, m_width);
    const double top = firstFrameTop(*m_sample);
    m_gap = top - head.height;
    m_estimate = m_gap + (m_sample->size().height() - m_margin - top);
}

void PageViewer::layOut(int block)
{
    Slot &s = m_slots[size_t(block)];
    if (!s.doc)
        s.doc = laidOutDocument(m_page.blockHtml(size_t(block)), m_width);
    setWidth(*s.doc, m_width);
    s.docTop = firstFrameTop(*s.doc);
    s.height = m_gap + (s.doc->size().height() - m_margin - s.docTop);
    s.exact = true;
    s.measured = true;
    m_widest = std::max(m_widest, s.doc->size().width());
}

void PageViewer::updateTops()
{
    double y = 0;
    for (size_t k = 0; k < m_slots.size(); ++k) {
        m_tops[k] = y;
        y += m_slots[k].height;
    }
    m_tops.back() = y;
}

std::pair<int, int> PageViewer::blocksIn(double top, double bottom) const
{
    const int n = blockCount();
    if (n == 0)
        return {0, -1};
    const auto begin = m_tops.begin();
    const auto end = m_tops.end() - 1;
    const int first = std::max(0, int(std::upper_bound(begin, end, top) - begin) - 1);
    const int last = std::min(n - 1, int(std::lower_bound(begin, end, bottom) - begin) - 1);
    return {first, last};
}

double PageViewer::contentTop(int block) const
{
    return m_tops[size_t(block)] + (block > 0 ? m_gap : 0.0);
}

void PageViewer::layOutVisible()
{
    if (m_slots.empty() || !isVisible() || m_adjusting)
        return;
    m_adjusting = true;
    // A scroll bar that comes or goes changes the width: a few rounds at most.
    for (int round = 0; round < 3; ++round) {
        const int width = viewport()->width();
        if (width != m_width) {
            m_width = width;
            for (Slot &s : m_slots)
                s.exact = false;
            calibrate();
            for (size_t k = 1; k < m_slots.size(); ++k) {
                if (!m_slots[k].measured)
                    m_slots[k].height = m_estimate;
            }
            updateTops();
            // The estimated length shows or hides the scroll bar now, so
            // that the blocks are laid out once, at the width that stays.
            updateScrollBars();
            if (viewport()->width() != m_width)
                continue;
        }
        double value = verticalScrollBar()->value();
        const double height = viewport()->height();
        // A view at the end stays at the end; elsewhere the first block on
        // screen that was laid out before keeps its place while those above
        // it take their real heights.
        const bool atEnd = value > 0 && value >= verticalScrollBar()->maximum();
        int anchor = -1;
        double anchorTop = 0;
        while (true) {
            if (atEnd)
                value = std::max(0.0, std::ceil(m_tops.back() + m_margin) - height);
            const auto [first, last] = blocksIn(value, value + height);
            if (anchor < 0 && !atEnd) {
                for (int k = first; k <= last; ++k) {
                    if (m_slots[size_t(k)].exact) {
                        anchor = k;
                        anchorTop = m_tops[size_t(k)];
                        break;
                    }
                }
            }
            bool changed = false;
            for (int k = first; k <= last; ++k) {
                if (!m_slots[size_t(k)].exact) {
                    layOut(k);
                    changed = true;
                }
            }
            if (!changed)
                break;
            updateTops();
            if (anchor >= 0) {
                value += m_tops[size_t(anchor)] - anchorTop;
                anchorTop = m_tops[size_t(anchor)];
            }
        }
        updateScrollBars();
        verticalScrollBar()->setValue(int(std::lround(value)));
        if (viewport()->width() == m_width)
            break;
    }
    m_adjusting = false;
}

void PageViewer::layOutDownTo(double bottom)
{
    if (m_slots.empty() || m_width != viewport()->width() || m_adjusting)
        return;
    // Below the view only: what is seen stays where it is.
    const double top = verticalScrollBar()->value() + viewport()->height();
    bool changed = true;
    while (changed) {
        changed = false;
        const auto [first, last] = blocksIn(top, bottom);
        for (int k = first; k <= last; ++k) {
            if (!m_slots[size_t(k)].exact) {
                layOut(k);
                changed = true;
            }
        }
        if (changed)
            updateTops();
    }
    m_adjusting = true;
    updateScrollBars();
    m_adjusting = false;
}

void PageViewer::updateScrollBars()
{
    // Each bar shown exactly when its range is not empty, as Qt's "as
    // needed" does, but at once: Qt decides in a queued call, after which
    // every block in view would be laid out again at the new width.
    const QSize area = contentsRect().size();
    const int total = int(std::ceil(m_tops.back() + m_margin));
    const int widest = int(std::ceil(m_widest));
    const int barWidth = verticalScrollBar()->sizeHint().width();
    const int barHeight = horizontalScrollBar()->sizeHint().height();
    bool vertical = total > area.height();
    bool horizontal = widest > area.width() - (vertical ? barWidth : 0);
    vertical = total > area.height() - (horizontal ? barHeight : 0);
    horizontal = widest > area.width() - (vertical ? barWidth : 0);
    const auto policy = [](bool on) { return on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff; };
    if (verticalScrollBarPolicy() != policy(vertical))
        setVerticalScrollBarPolicy(policy(vertical));
    if (horizontalScrollBarPolicy() != policy(horizontal))
        setHorizontalScrollBarPolicy(policy(horizontal));

    const QSize view = viewport()->size();
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, std::max(0, total - view.height()));
    v->setPageStep(view.height());
    QScrollBar *h = horizontalScrollBar();
    h->setRange(0, std::max(0, widest - view.width()));
    h->setPageStep(view.width());
}

QRect PageViewer::blockRect(int block) const
{
    if (block < 0 || block >= blockCount())
        return {};
    const double top = contentTop(block);
    const double bottom = m_tops[size_t(block) + 1];
    const int y = int(std::floor(top)) - verticalScrollBar()->value();
    return QRect(-horizontalScrollBar()->value(), y, viewport()->width(),
                 std::max(0, int(std::ceil(bottom - top))));
}

QString PageViewer::blockName(int block) const
{
    if (block < 0 || block >= blockCount())
        return {};
    const Slot &s = m_slots[size_t(block)];
    if (s.name.isEmpty()) {
        // Read as the page is read, but never laid out.
        s.name = oneLine(readDocument(m_page.blocks[size_t(block)].name)->toPlainText());
    }
    return s.name;
}

QTextDocument *PageViewer::blockDocument(int block)
{
    if (block < 0 || block >= blockCount())
        return nullptr;
    if (m_width < 0) {
        m_width = std::max(1, viewport()->width());
        calibrate();
        for (size_t k = 1; k < m_slots.size(); ++k)
            m_slots[k].height = m_estimate;
    }
    if (!m_slots[size_t(block)].exact && block > 0)
        layOut(block);
    updateTops();
    return m_slots[size_t(block)].doc.get();
}

QString PageViewer::toPlainText() const
{
    QStringList parts;
    for (size_t k = 0; k < m_page.blocks.size(); ++k)
        parts << readDocument(m_page.blockHtml(k))->toPlainText();
    return parts.join(u'\n');
}

int PageViewer::firstTaskAt(double y) const
{
    if (blockCount() < 2)
        return 0;
    const int k = blocksIn(y, y + 1).first;
    return std::clamp(k, 1, blockCount() - 1);
}

void PageViewer::makeCurrent(int block)
{
    if (block == m_current || block < 1 || block >= blockCount())
        return;
    m_current = block;
    if (hasFocus())
        announceCurrent();
}

void PageViewer::announceCurrent()
{
    if (m_current < 1)
        return;
    QAccessibleEvent event(this, QAccessible::Focus);
    event.setChild(m_current - 1);
    QAccessible::updateAccessibility(&event);
}

QRect PageViewer::bandRect(int block) const
{
    const double top = m_tops[size_t(block)];
    const double bottom = m_tops[size_t(block) + 1] + (block + 1 == blockCount() ? m_margin : 0.0);
    const int y = int(std::floor(top)) - verticalScrollBar()->value();
    return QRect(0, y, viewport()->width(), int(std::ceil(bottom)) - int(std::floor(top)));
}

void PageViewer::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    painter.fillRect(exposed, pagePalette().color(QPalette::Base));
    if (m_slots.empty())
        return;
    if (m_width != viewport()->width())
        layOutVisible();
    const double x = horizontalScrollBar()->value();
    const double y = verticalScrollBar()->value();
    const auto [first, last] = blocksIn(y + exposed.top(), y + exposed.bottom() + 1);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = pagePalette();
    // A selection is the desktop's, in its colours.
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    for (int k = first; k <= last; ++k) {
        const Slot &s = m_slots[size_t(k)];
        if (!s.exact || !s.doc)
            continue;
        const QPointF origin(-x, contentTop(k) - s.docTop - y);
        const QRect band = bandRect(k).intersected(exposed);
        painter.save();
        painter.setClipRect(band);
        painter.translate(origin);
        context.clip = QRectF(band).translated(-origin);
        context.selections.clear();
        if (const auto [from, to] = selectedIn(k, *s.doc); from < to) {
            QTextCursor cursor(s.doc.get());
            cursor.setPosition(from);
            cursor.setPosition(to, QTextCursor::KeepAnchor);
            context.selections.append({cursor, selected});
        }
        s.doc->documentLayout()->draw(&painter, context);
        painter.restore();
    }
}

void PageViewer::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layOutVisible();
}

void PageViewer::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    layOutVisible();
}

void PageViewer::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::ApplicationFontChange && !m_slots.empty()) {
        const int current = m_current;
        reset();
        m_current = current;
        layOutVisible();
        viewport()->update();
    }
}

void PageViewer::scrollContentsBy(int, int)
{
    if (m_adjusting)
        return;
    layOutVisible();
    // Keyboard and screen reader stay with what is seen.
    const double top = verticalScrollBar()->value();
    const QRect current = blockRect(m_current);
    if (m_current > 0 && !viewport()->rect().intersects(current))
        makeCurrent(firstTaskAt(top));
    viewport()->update();
}

void PageViewer::keyPressEvent(QKeyEvent *event)
{
    // As a read-only QTextBrowser: the keys scroll the view, whatever task
    // a screen reader is on.
    QScrollBar *v = verticalScrollBar();
    event->accept();
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        offerSelection();
    } else if (event->key() == Qt::Key_Space) {
        v->triggerAction((event->modifiers() & Qt::ShiftModifier)
                             ? QAbstractSlider::SliderPageStepSub
                             : QAbstractSlider::SliderPageStepAdd);
    } else if (event->key() == Qt::Key_Home && event->modifiers() == Qt::NoModifier) {
        v->triggerAction(QAbstractSlider::SliderToMinimum);
    } else if (event->key() == Qt::Key_End && event->modifiers() == Qt::NoModifier) {
        v->triggerAction(QAbstractSlider::SliderToMaximum);
    } else if ((event->modifiers() & Qt::AltModifier) &&
               (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right ||
                event->key() == Qt::Key_Up)) {
        // The browser's back, forward and home: a page with no history.
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
    // A screen reader's item moves task by task among those in view, as in
    // an item view, while the view scrolls by line.
    const bool plain = event->modifiers() == Qt::NoModifier;
    const int next = m_current + (event->key() == Qt::Key_Down ? 1 : -1);
    if (plain && (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && next > 0 &&
        next < blockCount() && viewport()->rect().intersects(blockRect(next)))
        makeCurrent(next);
}

PageViewer::Place PageViewer::placeAt(QPoint viewportPos) const
{
    if (m_slots.empty())
        return {};
    const double x = horizontalScrollBar()->value() + viewportPos.x();
    const double y =
        verticalScrollBar()->value() + std::clamp(viewportPos.y(), 0, viewport()->height());
    const int block = blocksIn(y, y + 1).first;
    const Slot &s = m_slots[size_t(block)];
    if (!s.exact || !s.doc)
        return {block, 0};
    const QPointF inDoc(x, y - (contentTop(block) - s.docTop));
    return {block, std::max(0, s.doc->documentLayout()->hitTest(inDoc, Qt::FuzzyHit))};
}

std::pair<int, int> PageViewer::selectedIn(int block, const QTextDocument &doc) const
{
    const Place first = std::min(m_anchor, m_end);
    const Place last = std::max(m_anchor, m_end);
    if (first == last || block < first.block || block > last.block)
        return {0, 0};
    const int end = doc.characterCount() - 1;
    return {block == first.block ? std::min(first.position, end) : 0,
            block == last.block ? std::min(last.position, end) : end};
}

QString PageViewer::selectedText() const
{
    QStringList parts;
    for (int k = std::min(m_anchor, m_end).block;
         k >= 0 && k <= std::max(m_anchor, m_end).block && k < blockCount(); ++k) {
        // Blocks passed over without being seen are read now.
        const Slot &s = m_slots[size_t(k)];
        std::unique_ptr<QTextDocument> read;
        QTextDocument *doc = s.doc.get();
        if (!doc) {
            read = readDocument(m_page.blockHtml(size_t(k)));
            doc = read.get();
        }
        const auto [from, to] = selectedIn(k, *doc);
        if (from >= to)
            continue;
        QTextCursor cursor(doc);
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        parts << cursor.selection().toPlainText();
    }
    // Each part ends where its block does: the page's line breaks are in it.
    return parts.join(QString());
}

void PageViewer::copy() const
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void PageViewer::offerSelection() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection())
        return;
    const QString text = selectedText();
    if (!text.isEmpty())
        clipboard->setText(text, QClipboard::Selection);
}

void PageViewer::selectAll()
{
    if (m_slots.empty())
        return;
    m_anchor = {0, 0};
    m_end = {blockCount() - 1, std::numeric_limits<int>::max()};
    viewport()->update();
}

void PageViewer::selectIn(const Place &from, const Place &to)
{
    m_anchor = from;
    m_end = to;
    viewport()->update();
}

QString PageViewer::anchorAt(QPoint viewportPos) const
{
    if (m_slots.empty())
        return {};
    const double y = verticalScrollBar()->value() + viewportPos.y();
    const int block = blocksIn(y, y + 1).first;
    const Slot &s = m_slots[size_t(block)];
    if (!s.exact || !s.doc)
        return {};
    const QPointF inDoc(horizontalScrollBar()->value() + viewportPos.x(),
                        y - (contentTop(block) - s.docTop));
    return s.doc->documentLayout()->anchorAt(inDoc);
}

void PageViewer::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    for (int k = 1; k < blockCount(); ++k) {
        if (blockRect(k).contains(pos)) {
            makeCurrent(k);
            break;
        }
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    event->accept();
    const Place place = placeAt(pos);
    const QStyleHints *hints = QGuiApplication::styleHints();
    const bool third = m_sinceDoubleClick.isValid() &&
                       m_sinceDoubleClick.elapsed() < hints->mouseDoubleClickInterval() &&
                       (pos - m_doubleClickAt).manhattanLength() < hints->startDragDistance();
    m_sinceDoubleClick.invalidate();
    if (third && place.block >= 0 && m_slots[size_t(place.block)].doc) {
        // A third click: the paragraph, with its end.
        QTextCursor cursor(m_slots[size_t(place.block)].doc.get());
        cursor.setPosition(place.position);
        cursor.movePosition(QTextCursor::StartOfBlock);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        selectIn({place.block, cursor.selectionStart()}, {place.block, cursor.selectionEnd()});
        m_selecting = false;
        offerSelection();
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier)
        m_end = place;
    else
        m_anchor = m_end = place;
    m_selecting = true;
    viewport()->update();
}

void PageViewer::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    const QPoint pos = event->position().toPoint();
    const Place place = placeAt(pos);
    m_selecting = false;
    m_doubleClickAt = pos;
    m_sinceDoubleClick.start();
    if (place.block < 0 || !m_slots[size_t(place.block)].doc)
        return;
    QTextCursor cursor(m_slots[size_t(place.block)].doc.get());
    cursor.setPosition(place.position);
    cursor.select(QTextCursor::WordUnderCursor);
    if (!cursor.hasSelection())
        return;
    selectIn({place.block, cursor.selectionStart()}, {place.block, cursor.selectionEnd()});
    offerSelection();
}

void PageViewer::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (!m_selecting) {
        viewport()->setCursor(anchorAt(pos).isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Dragged past an edge: the page comes along.
    if (pos.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    const Place end = placeAt(pos);
    if (!(end == m_end)) {
        m_end = end;
        viewport()->update();
    }
    event->accept();
}

void PageViewer::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_selecting && event->button() == Qt::LeftButton) {
        m_selecting = false;
        offerSelection();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void PageViewer::contextMenuEvent(QContextMenuEvent *event)
{
    // QTextBrowser's menu, with the shortcuts named as it names them.
    const auto withKey = [](const QString &text, QKeySequence::StandardKey key) {
        return text + u'\t' + QKeySequence(key).toString(QKeySequence::NativeText);
    };
    QMenu menu(this);
    QAction *copyAction =
        menu.addAction(withKey(tr("&Copy"), QKeySequence::Copy), this, &PageViewer::copy);
    copyAction->setObjectName(QStringLiteral("edit-copy"));
    copyAction->setEnabled(!selectedText().isEmpty());
    const QString link =
        event->reason() == QContextMenuEvent::Mouse ? anchorAt(event->pos()) : QString();
    QAction *linkAction = menu.addAction(tr("Copy &Link Location"), this,
                                         [link] { QGuiApplication::clipboard()->setText(link); });
    linkAction->setObjectName(QStringLiteral("link-copy"));
    linkAction->setEnabled(!link.isEmpty());
    menu.addSeparator();
    QAction *all = menu.addAction(withKey(tr("Select All"), QKeySequence::SelectAll), this,
                                  &PageViewer::selectAll);
    all->setObjectName(QStringLiteral("select-all"));
    all->setEnabled(!m_slots.empty());
    menu.exec(event->globalPos());
}

void PageViewer::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    // After Qt's own focus event for the viewer, so the item is what is said.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (hasFocus())
                announceCurrent();
        },
        Qt::QueuedConnection);
}
