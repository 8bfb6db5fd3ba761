// Where the page's blocks lie, and the scroll bars.
//
// The page is a column of blocks (the heading, one table per task), each a
// small document of its own, as QPlainTextDocumentLayout keeps one layout
// per block. A block's height comes only from laying it out: its texts are
// the user's markup, wrapped at the view's width inside the page's tables,
// so nothing cheaper gives the exact figure a browser shows. So:
// - the first paint lays out the blocks it shows and guesses the rest;
// - after it, every other block is measured (parsed and laid out, not
//   painted, the document then dropped) in slices of a few milliseconds,
//   each queued behind the input that came meanwhile;
// - a scroll bar is shown only once every height is exact: until then its
//   place is kept empty, so nothing moves when it comes, and the thumb the
//   user sees never changes size while the view scrolls;
// - a scroll that comes before that (a key, the wheel, a drag past an edge)
//   first measures every block down to the bottom of where it goes, in
//   order, so that it lands where a browser's would: a step down costs the
//   blocks it brings into view, End the whole rest at once.
// Pixels, not lines, are the scroll bars' unit, as in a browser: Down moves
// 20 of them. The heights a view of lines would need are the same ones.
#include "page/pageviewer.h"
#include "page/pageviewer_p.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTextFrame>
#include <QTextObjectInterface>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

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

constexpr qsizetype kLongestBrokenWord = 32767;
// A slice of measuring leaves input answered within a frame.
constexpr qint64 kSliceNs = 4'000'000;

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

}  // namespace

#include "pageviewer_layout.moc"

namespace pageviewer {

std::unique_ptr<QTextDocument> readDocument(const QString &html)
{
    auto doc = std::make_unique<ClosedDocument>();
    doc->setUndoRedoEnabled(false);
    doc->setHtml(html);
    return doc;
}

// The width is set before the text, as every change of either lays the
// whole document out again. The page keeps the application's font in every
// window, as it always has.
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

}  // namespace pageviewer

using namespace pageviewer;

void PageViewer::calibrate()
{
    Slot &head = m_slots.front();
    if (!head.doc)
        head.doc = laidOutDocument(m_page.blockHtml(0), m_width);
    setWidth(*head.doc, m_width);
    m_margin = head.doc->documentMargin();
    head.docTop = 0;
    head.height = head.doc->size().height() - m_margin;
    head.laidOut = head.exact = head.sized = true;
    m_widest = head.doc->size().width();
    if (m_slots.size() < 2)
        return;
    // The heading and a sample block as one page: where the page puts a
    // task's table after what comes before it, and how high a block is.
    if (!m_sample) {
        QString html = QString::fromUtf8(m_page.blockBytes(0));
        if (m_page.sample.isEmpty()) {
            html += QString::fromUtf8(m_page.blockBytes(1));
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
    s.laidOut = s.exact = s.sized = true;
    m_widest = std::max(m_widest, s.doc->size().width());
}

void PageViewer::measure(int block)
{
    Slot &s = m_slots[size_t(block)];
    if (s.doc) {
        layOut(block);
        return;
    }
    // Laid out as it will be painted, then dropped: a thousand documents
    // kept would cost more memory than the rest of the window.
    const std::unique_ptr<QTextDocument> doc =
        laidOutDocument(m_page.blockHtml(size_t(block)), m_width);
    s.docTop = firstFrameTop(*doc);
    s.height = m_gap + (doc->size().height() - m_margin - s.docTop);
    s.exact = s.sized = true;
    m_widest = std::max(m_widest, doc->size().width());
}

bool PageViewer::allMeasured()
{
    while (m_measuredTo < m_slots.size() && m_slots[m_measuredTo].exact)
        ++m_measuredTo;
    return m_measuredTo >= m_slots.size();
}

void PageViewer::measureSlice()
{
    if (m_slots.empty() || !isVisible() || m_adjusting || m_width != viewport()->width())
        return;  // the next layout starts it again
    if (allMeasured())
        return;
    QElapsedTimer clock;
    clock.start();
    const Anchor anchor = viewAnchor(verticalScrollBar()->value());
    do {
        measure(int(m_measuredTo));
    } while (!allMeasured() && clock.nsecsElapsed() < kSliceNs);
    settle(anchor);
    if (!allMeasured())
        m_measuring.start();
}

void PageViewer::measureDownTo(double bottom)
{
    if (m_slots.empty() || !isVisible() || m_adjusting)
        return;
    if (m_width != viewport()->width())
        layOutVisible();
    updateTops();
    if (allMeasured() || m_tops[m_measuredTo] >= bottom)
        return;
    const Anchor anchor = viewAnchor(verticalScrollBar()->value());
    // The tops as far as measured; settling counts them all again.
    for (size_t k = m_measuredTo; k < m_slots.size() && m_tops[k] < bottom; ++k) {
        if (!m_slots[k].exact)
            measure(int(k));
        m_tops[k + 1] = m_tops[k] + m_slots[k].height;
    }
    settle(anchor);
}

void PageViewer::measureAll() { measureDownTo(std::numeric_limits<double>::infinity()); }

void PageViewer::beforeScroll(QScrollBar *bar, int action)
{
    if (m_adjusting || allMeasured())
        return;
    const int position = bar->sliderPosition();
    const int value = bar->value();
    int step = 0;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: step = bar->singleStep(); break;
    case QAbstractSlider::SliderSingleStepSub: step = -bar->singleStep(); break;
    case QAbstractSlider::SliderPageStepAdd: step = bar->pageStep(); break;
    case QAbstractSlider::SliderPageStepSub: step = -bar->pageStep(); break;
    default: break;
    }
    // The page's end and its widest block may be anywhere below; a step
    // down needs only what it brings into view.
    if (bar != verticalScrollBar() || action == QAbstractSlider::SliderToMaximum)
        measureAll();
    else
        measureDownTo(std::max(value + step, position) + viewport()->height());
    // What was measured above the view may have moved it.
    const int moved = bar->value();
    int target = position + (moved - value);
    if (step != 0)
        target = moved + step;
    else if (action == QAbstractSlider::SliderToMinimum)
        target = bar->minimum();
    else if (action == QAbstractSlider::SliderToMaximum)
        target = bar->maximum();
    bar->setSliderPosition(std::clamp(target, bar->minimum(), bar->maximum()));
}

void PageViewer::settle(Anchor anchor)
{
    QScrollBar *v = verticalScrollBar();
    const int before = v->value();
    const QSize size = viewport()->size();
    updateTops();
    const double value = keep(anchor, before);
    {
        const QScopedValueRollback adjusting(m_adjusting, true);
        updateScrollBars();
        v->setValue(int(std::lround(value)));
    }
    // A bar that came changed the view's size, or the view moved; else what
    // is seen is as it was.
    layOutVisible();
    if (v->value() != before || viewport()->size() != size)
        viewport()->update();
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

PageViewer::Anchor PageViewer::viewAnchor(double value) const
{
    Anchor anchor;
    anchor.atEnd = value > 0 && value >= verticalScrollBar()->maximum();
    const auto [first, last] = blocksIn(value, value + viewport()->height());
    for (int k = first; k <= last; ++k) {
        if (m_slots[size_t(k)].laidOut) {
            anchor.block = k;
            anchor.top = m_tops[size_t(k)];
            break;
        }
    }
    return anchor;
}

double PageViewer::keep(Anchor &anchor, double value) const
{
    if (anchor.atEnd)
        return std::max(0.0, std::ceil(m_tops.back() + m_margin) - viewport()->height());
    if (anchor.block >= 0) {
        value += m_tops[size_t(anchor.block)] - anchor.top;
        anchor.top = m_tops[size_t(anchor.block)];
    }
    return value;
}

void PageViewer::layOutVisible()
{
    if (m_slots.empty() || !isVisible() || m_adjusting)
        return;
    const QScopedValueRollback adjusting(m_adjusting, true);
    // A scroll bar that comes or goes changes the width: a few rounds at most.
    for (int round = 0; round < 3; ++round) {
        const int width = viewport()->width();
        if (width != m_width) {
            m_width = width;
            m_measuredTo = 0;
            for (Slot &s : m_slots)
                s.laidOut = s.exact = false;
            calibrate();
            for (size_t k = 1; k < m_slots.size(); ++k) {
                if (!m_slots[k].sized)
                    m_slots[k].height = m_estimate;
            }
            updateTops();
            // The guessed length shows or hides the scroll bar's place now,
            // so that the blocks are laid out once, at the width that stays.
            updateScrollBars();
            if (viewport()->width() != m_width)
                continue;
        }
        double value = verticalScrollBar()->value();
        const double height = viewport()->height();
        // A view at the end stays at the end; elsewhere the first block on
        // screen that was laid out before keeps its place while those above
        // it take their real heights.
        Anchor anchor = viewAnchor(value);
        while (true) {
            value = keep(anchor, value);
            const auto [first, last] = blocksIn(value, value + height);
            if (anchor.block < 0) {
                const Anchor found = viewAnchor(value);
                anchor.block = found.block;
                anchor.top = found.top;
            }
            bool changed = false;
            for (int k = first; k <= last; ++k) {
                if (!m_slots[size_t(k)].laidOut) {
                    layOut(k);
                    changed = true;
                }
            }
            if (!changed)
                break;
            updateTops();
        }
        updateScrollBars();
        verticalScrollBar()->setValue(int(std::lround(value)));
        if (viewport()->width() == m_width)
            break;
    }
}

void PageViewer::updateScrollBars()
{
    // Each bar needed exactly when its range is not empty, as Qt's "as
    // needed" decides, but at once: Qt decides in a queued call, after which
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
    // A bar is shown once its range is exact; until then its place is kept.
    const bool exact = allMeasured();
    // A change made while Qt lays the bars out for a resize is undone by it:
    // what is shown is compared, not only what was asked.
    const auto policy = [](bool on) { return on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff; };
    const bool showV = vertical && exact;
    const bool showH = horizontal && exact;
    if (verticalScrollBarPolicy() != policy(showV) ||
        (isVisible() && verticalScrollBar()->isVisibleTo(this) != showV))
        setVerticalScrollBarPolicy(policy(showV));
    if (horizontalScrollBarPolicy() != policy(showH) ||
        (isVisible() && horizontalScrollBar()->isVisibleTo(this) != showH))
        setHorizontalScrollBarPolicy(policy(showH));
    const QMargins place(0, 0, vertical && !exact ? barWidth : 0,
                         horizontal && !exact ? barHeight : 0);
    if (viewportMargins() != place)
        setViewportMargins(place);

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

QRect PageViewer::bandRect(int block) const
{
    const double top = m_tops[size_t(block)];
    const double bottom = m_tops[size_t(block) + 1] + (block + 1 == blockCount() ? m_margin : 0.0);
    const int y = int(std::floor(top)) - verticalScrollBar()->value();
    return QRect(0, y, viewport()->width(), int(std::ceil(bottom)) - int(std::floor(top)));
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
    if (!m_slots[size_t(block)].laidOut && block > 0)
        layOut(block);
    updateTops();
    return m_slots[size_t(block)].doc.get();
}
