#pragma once

#include "page/pageblocks.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPalette>
#include <QTimer>

#include <memory>
#include <vector>

class QScrollBar;
class QTextDocument;

// The alert page's viewer. It shows a page as a sequence of blocks (see
// PageBlocks), each laid out as a small document of its own when it first
// scrolls into view: the same principle as the task list's painted rows.
// The other blocks are measured after the first paint, a slice at a time,
// and a scroll bar is shown only once its range is exact (see
// pageviewer_layout.cpp). A hidden viewer lays out nothing and nothing runs
// in the background.
//
// Keys, mouse, selection, copying and wrapping are those of a read-only
// QTextBrowser showing the page: the keys scroll by line and by page, the
// mouse selects text (a word on a double click, a paragraph on a triple
// click) into the primary selection, Ctrl+A and Ctrl+C select all and copy.
//
// The page is a document with its own colours (dark text on white, as a
// browser shows a page without styles) whatever the desktop's theme.
// Task texts reach it unescaped, so it loads nothing: no image, style sheet
// or page behind any URL, whatever the scheme, and it follows no link. Each
// block is drawn inside its own band, so no task paints over another.
// Screen readers see a list named by the page's heading whose items are
// the task blocks; the focused item is the first task in view.
class PageViewer : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit PageViewer(QWidget *parent = nullptr);
    ~PageViewer() override;

    // Shows the page from its top, nothing selected. The page already
    // shown keeps its layout.
    void showPage(const PageBlocks &page);

    // The page's own colours.
    static QPalette pagePalette();

    int blockCount() const { return int(m_slots.size()); }
    // Where the block lies in the viewport, in pixels; an estimate until it
    // has been measured.
    QRect blockRect(int block) const;
    // What a screen reader says for the block: its name as plain text.
    QString blockName(int block) const;

    // The task block that a screen reader is on; 0 for none.
    int currentBlock() const { return m_current; }

    // The selected text, as plain text; empty for none.
    QString selectedText() const;
    // Puts the selected text on the clipboard (Ctrl+C does).
    void copy() const;
    // Selects the whole page (Ctrl+A does).
    void selectAll();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    friend class PageViewerProbe;  // tests look into the layout

    bool isLaidOut(int block) const;
    // A block's document, laid out at the viewer's width.
    QTextDocument *blockDocument(int block);
    // Every block's text, read but not laid out.
    QString toPlainText() const;

    struct Slot {
        std::unique_ptr<QTextDocument> doc;  // kept once the block has been seen
        double height = 0;                   // its band: exact once measured, else a guess
        double docTop = 0;                   // where its content starts in its document
        bool laidOut = false;                // `doc` is laid out at the current width
        bool exact = false;                  // measured at the current width
        bool sized = false;                  // measured at some width: a close guess
        mutable QString name;                // plain text, read on first use
    };

    // A place in the page's text: a block and a position in its document.
    struct Place {
        int block = -1;
        int position = 0;
        bool operator<(const Place &o) const
        {
            return block != o.block ? block < o.block : position < o.position;
        }
        bool operator==(const Place &) const = default;
    };
    Place placeAt(QPoint viewportPos) const;
    // The selected part of a block's document, as [from, to).
    std::pair<int, int> selectedIn(int block, const QTextDocument &doc) const;
    // Selects from..to within one block's document.
    void selectIn(const Place &from, const Place &to);
    // Where the view scrolls to when the page is shown again: its top.
    void toTop();
    // The selection is also the primary selection, as on other desktops.
    void offerSelection() const;
    QString anchorAt(QPoint viewportPos) const;

    void reset();
    // Lays out the blocks that meet the view, keeping the first block that
    // was laid out before at its place on screen; then the scroll bars.
    void layOutVisible();
    void layOut(int block);
    // Takes the block's height and width at the current width; its layout is
    // kept only when the block has been seen.
    void measure(int block);
    bool allMeasured();
    // A slice of the measuring, then the next one queued behind any input.
    void measureSlice();
    // The blocks not measured yet that start above `bottom`, at once: before
    // the view scrolls there, so that it goes where a browser's would.
    void measureDownTo(double bottom);
    void measureAll();
    // A scroll that comes before the measuring is done measures as far as it
    // goes, then goes where it would have gone on the whole page.
    void beforeScroll(QScrollBar *bar, int action);
    // Where the view stays while heights change: at the page's end, or with
    // a block that is laid out at its place on screen.
    struct Anchor {
        bool atEnd = false;
        int block = -1;
        double top = 0;
    };
    Anchor viewAnchor(double value) const;
    double keep(Anchor &anchor, double value) const;
    // The new heights in place, what is seen kept where it was.
    void settle(Anchor anchor);
    // The heading, and the gap the page puts before each task block, at the
    // current width.
    void calibrate();
    void updateTops();
    void updateScrollBars();
    std::pair<int, int> blocksIn(double top, double bottom) const;
    double contentTop(int block) const;
    int firstTaskAt(double y) const;
    void makeCurrent(int block);
    void announceCurrent();
    // The band the block is drawn in, in the viewport.
    QRect bandRect(int block) const;

    PageBlocks m_page;
    std::vector<Slot> m_slots;
    std::unique_ptr<QTextDocument> m_sample;  // the heading and a sample block
    std::vector<double> m_tops;               // band tops, one more for the page's end
    size_t m_measuredTo = 0;                  // every block before it is measured
    QTimer m_measuring;                       // the next slice of measuring
    double m_gap = 0;                         // before each task block
    double m_margin = 0;                      // below the last block
    double m_estimate = 0;                    // a task block not measured yet
    double m_widest = 0;                      // widest block measured
    int m_width = -1;                         // the width the layouts were made for
    int m_current = 0;
    bool m_adjusting = false;
    Place m_anchor;  // where the mouse selection started and where it is
    Place m_end;
    bool m_selecting = false;
    // A press soon after a double click near it selects a paragraph.
    QPoint m_doubleClickAt;
    QElapsedTimer m_sinceDoubleClick;
};
