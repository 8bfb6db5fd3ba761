#pragma once

#include "mainwindow/formlayout.h"

#include <QFont>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QPushButton;

// One visible cell of a list row: a label's caption and looks.
struct ListCell {
    QString caption = QStringLiteral(" ");
    qint32 color = 0;       // text colour, red in the low byte
    bool themeText = true;  // no rule colours it: the palette's text colour, not `color`
    bool bold = false;
    bool opaque = false;  // false: the container shows through
    qint32 backColor = 0;
};

enum class ListColumn { Title = 0, For = 1, Due = 2 };

// A task's due fields as a redraw found them.
struct DueFields {
    qint16 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct ListRow {
    std::array<ListCell, 3> cells;          // by ListColumn
    QString id = QStringLiteral("Label1");  // the task's slot, never shown
    double top = 0;                         // twips inside the container
    bool visible = false;
    // Due text and colours not made yet: from these, when the row is first
    // read or by the slices after the first paint.
    std::optional<DueFields> pending;

    ListCell &cell(ListColumn c) { return cells[static_cast<int>(c)]; }
    const ListCell &cell(ListColumn c) const { return cells[static_cast<int>(c)]; }
};

// lstContainer: the header buttons and every row, painted in one widget.
// Row 0 is the template that new rows copy; it never shows a task.
class TaskListCanvas : public QWidget {
    Q_OBJECT
public:
    explicit TaskListCanvas(QWidget *parent = nullptr);

    QPushButton *cmdTitle = nullptr;
    QPushButton *cmdFor = nullptr;
    QPushButton *cmdDue = nullptr;

    // Elements including the template. A row read is a filled row.
    int elementCount() const { return static_cast<int>(m_rows.size()); }
    ListRow &row(int k) { return filled(k); }
    const ListRow &row(int k) const { return filled(k); }
    // The slot text of row k, pending or not.
    const QString &rowId(int k) const { return m_rows.at(static_cast<size_t>(k)).id; }

    // Makes a pending row's due text and colours from its fields. Rows the
    // view shows are filled as they are painted, the rest in slices once
    // the list has been painted, each short enough to leave input answered.
    void setRowFiller(std::function<void(ListRow &row, const DueFields &due)> fill)
    {
        m_fill = std::move(fill);
    }
    bool rowsPending() const;

    // A copy of the template, invisible; returns its number.
    int addRow();
    // Row k's due text and colours are made from `due` when it is first read.
    void setPending(int k, const DueFields &due);
    // Every row but the template; the selection goes with them.
    void removeRows();

    // The row drawn selected, 0 for none. A new selection is told to
    // assistive tools as item views tell theirs: the row is selected and,
    // while the list has the focus, focused.
    int selectedRow() const { return m_selectedRow; }
    void setSelectedRow(int k);

    // Column lefts and widths of the template, and the header's height, in
    // twips; rows share them.
    void setColumns(const TwipsRect &title, const TwipsRect &forWhom, const TwipsRect &due,
                    double headerHeight);
    double rowHeight() const { return m_columns[1].height; }

    // Rows follow each other under the header, one row height each: the
    // rows are placed, painted and hit by these.
    double rowTop(int k) const { return (k - 1) * rowHeight() + m_headerHeight; }
    // The row under pixel line y, or -1 above the first row.
    int rowAt(int y) const;
    // The first and last rows that meet pixel lines top..bottom (first >
    // last when none does).
    std::pair<int, int> rowsIn(int top, int bottom) const;

    // Pixel rectangle of a cell and the row / column under a point.
    QRect cellRect(int k, ListColumn c) const;
    struct Hit {
        int row = -1;
        ListColumn column = ListColumn::Title;
    };
    Hit hitTest(QPoint pos) const;

    // Paints the row again, and nothing else.
    void updateRow(int k);

    // A short text naming the row for assistive tools: title, for, due.
    QString rowAccessibleText(int k) const;
    // Whether row k lies inside the part of the list the viewport shows.
    bool rowShown(int k) const;
    // Where the list with the focus and no selection draws its focus frame:
    // the rows' area that the viewport shows.
    QRect focusFrameRect() const;

    // The whole text of a cell that its column cuts, for a tool tip; empty
    // where the text fits or there is no cell.
    QString cutTextAt(QPoint pos) const;

signals:
    void rowPressed(int row, Qt::MouseButton button, QPoint globalPos);
    // Return, Enter or a double click on a row: open the selected task.
    void openRequested();
    // The Delete key.
    void deleteRequested();
    // Keyboard: move the selection by `step` rows (Up, Down, Page keys), or
    // to the first / last row (Home, End: step of -/+ elementCount()).
    void stepRequested(int step);
    void menuRequested();
    // An assistive tool selects row k.
    void selectRequested(int row);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    bool showsFocusFrame() const { return hasFocus() && m_selectedRow == 0; }
    // The selected row as the focus of assistive tools, or the list itself
    // when no row is selected; once per change.
    void announceFocus();

    ListRow &filled(int k) const;
    void fillSlice();

    // Filled on first read, also through const access.
    mutable std::vector<ListRow> m_rows;
    mutable size_t m_firstPending = 1;  // no row before it is pending
    std::function<void(ListRow &, const DueFields &)> m_fill;
    QTimer m_filling;
    double m_headerHeight = 255;
    std::array<TwipsRect, 3> m_columns;
    int m_selectedRow = 0;
    int m_announcedFocus = -1;  // row last told as focused, 0 the list, -1 none
    QFont m_regular;
    QFont m_bold;
};
