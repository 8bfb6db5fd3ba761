// The viewer's page and its life: what it shows, when it shows it again,
// and the events that lay it out. Where blocks lie is in
// pageviewer_layout.cpp, painting in pageviewer_paint.cpp, keys, mouse and
// selection in pageviewer_input.cpp, screen readers in
// pageviewer_accessible.cpp.
#include "page/pageviewer.h"
#include "page/pageviewer_p.h"

#include "common/itemaccessible.h"

#include <QAccessible>
#include <QEvent>
#include <QHash>
#include <QScrollBar>

#include <algorithm>
#include <utility>

using namespace pageviewer;

PageViewer::PageViewer(QWidget *parent) : QAbstractScrollArea(parent)
{
    installAccessibleFactoryOnce<accessibleFactory>();
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
    horizontalScrollBar()->setSingleStep(20);
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this,
                [this, bar](int action) { beforeScroll(bar, action); });
    m_measuring.setSingleShot(true);
    m_measuring.setInterval(0);
    connect(&m_measuring, &QTimer::timeout, this, &PageViewer::measureSlice);
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
    // out or measured as they were, as long as the page around them is the
    // same (and was measured on its sample block).
    if (width > 0 && !kept.empty() && !m_slots.empty() && (sample || m_slots.size() < 2) &&
        previous.opening == m_page.opening && previous.closing == m_page.closing &&
        previous.sample == m_page.sample && blockText(previous, 0) == blockText(m_page, 0)) {
        QHash<QByteArrayView, size_t> byText;
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
            if (m_slots[k].laidOut)
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
    m_measuring.stop();
    m_slots.clear();
    m_sample.reset();
    m_slots.resize(m_page.blocks.size());
    m_measuredTo = 0;
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
    return block >= 0 && block < blockCount() && m_slots[size_t(block)].laidOut;
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

QString PageViewer::toPlainText() const
{
    QStringList parts;
    for (size_t k = 0; k < m_page.blocks.size(); ++k)
        parts << readDocument(m_page.blockHtml(k))->toPlainText();
    return parts.join(u'\n');
}
