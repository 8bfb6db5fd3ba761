#include "mainwindow/tasklistcanvas.h"

#include "common/color.h"
#include "common/twips.h"
#include "mainwindow/tasklistaccessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

QPushButton *makeHeaderButton(const QString &caption, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setFont(sansFont());
    // Header buttons order the list; they need no keyboard default role.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TaskListCanvas::TaskListCanvas(QWidget *parent)
    : QWidget(parent), m_regular(sansFont()), m_bold(sansFont(8.25, true))
{
    setObjectName(QStringLiteral("lstContainer"));
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(taskListAccessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    setPalette(pal);
    setFocusPolicy(Qt::StrongFocus);

    // Created in reverse so that cmdDue lies on top, as designed.
    cmdTitle = makeHeaderButton(tr("Title"), this);
    cmdFor = makeHeaderButton(tr("For"), this);
    cmdDue = makeHeaderButton(tr("Due"), this);
    cmdTitle->setObjectName(QStringLiteral("cmdTitle"));
    cmdFor->setObjectName(QStringLiteral("cmdFor"));
    cmdDue->setObjectName(QStringLiteral("cmdDue"));
    placeInTwips(cmdTitle, 0, 0, 855, 255);
    placeInTwips(cmdFor, 840, 0, 735, 255);
    placeInTwips(cmdDue, 1560, 0, 735, 255);

    m_columns = {TwipsRect{0, 0, 975, 255}, TwipsRect{960, 0, 855, 255},
                 TwipsRect{1800, 0, 975, 255}};
    m_rows.reserve(1002);
    m_rows.emplace_back();  // the template: hidden at Top 0 under the header
}

int TaskListCanvas::addRow()
{
    ListRow copy = m_rows.front();
    copy.visible = false;
    m_rows.push_back(std::move(copy));
    return elementCount() - 1;
}

void TaskListCanvas::removeRows()
{
    if (m_rows.size() > 1) {
        m_rows.resize(1);
        update();
    }
}

void TaskListCanvas::setColumns(const TwipsRect &title, const TwipsRect &forWhom,
                                const TwipsRect &due)
{
    const std::array<TwipsRect, 3> columns{title, forWhom, due};
    if (columns != m_columns) {
        m_columns = columns;
        update();
    }
}

QRect TaskListCanvas::cellRect(int k, ListColumn c) const
{
    const TwipsRect &col = m_columns[static_cast<int>(c)];
    return twipsRect(col.left, row(k).top, col.width, col.height);
}

TaskListCanvas::Hit TaskListCanvas::hitTest(QPoint pos) const
{
    const double h = rowHeight();
    const int header = cmdFor->height();
    if (h <= 0 || pos.y() < header)
        return {};
    // Rows follow each other under the header; check the candidate only.
    const int k = static_cast<int>((pixelsToTwips(pos.y()) - pixelsToTwips(header)) / h) + 1;
    if (k < 1 || k >= elementCount() || !row(k).visible)
        return {};
    // Later columns lie on top where they overlap.
    for (ListColumn c : {ListColumn::Due, ListColumn::For, ListColumn::Title}) {
        if (cellRect(k, c).contains(pos))
            return {k, c};
    }
    return {};
}

QString TaskListCanvas::rowAccessibleText(int k) const
{
    const ListRow &r = row(k);
    return tr("%1, for %2, due %3")
        .arg(r.cell(ListColumn::Title).caption.trimmed(), r.cell(ListColumn::For).caption.trimmed(),
             r.cell(ListColumn::Due).caption.trimmed());
}

void TaskListCanvas::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect exposed = event->rect();
    const double h = rowHeight();
    if (h <= 0 || elementCount() < 2)
        return;
    const double header = pixelsToTwips(cmdFor->height());
    const int first = std::max(1, static_cast<int>((pixelsToTwips(exposed.top()) - header) / h));
    const int last = std::min(elementCount() - 1,
                              static_cast<int>((pixelsToTwips(exposed.bottom()) - header) / h) + 2);
    for (int k = first; k <= last; ++k) {
        const ListRow &r = row(k);
        if (!r.visible)
            continue;
        for (ListColumn c : {ListColumn::Title, ListColumn::For, ListColumn::Due}) {
            const QRect rect = cellRect(k, c);
            if (!rect.intersects(exposed) || rect.isEmpty())
                continue;
            const ListCell &cell = r.cell(c);
            if (cell.opaque)
                painter.fillRect(rect, colorFromValue(cell.backColor));
            painter.setClipRect(rect);
            painter.setFont(cell.bold ? m_bold : m_regular);
            painter.setPen(colorFromValue(cell.color));
            // A label shows one line from its left edge, cut where it ends.
            painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                             cell.caption);
            painter.setClipping(false);
        }
    }
}

void TaskListCanvas::mousePressEvent(QMouseEvent *event)
{
    const Hit hit = hitTest(event->position().toPoint());
    if (hit.row < 1) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    emit rowPressed(hit.row, event->button(), event->globalPosition().toPoint());
}

void TaskListCanvas::keyPressEvent(QKeyEvent *event)
{
    constexpr int kPage = 10;
    switch (event->key()) {
    case Qt::Key_Up: emit stepRequested(-1); break;
    case Qt::Key_Down: emit stepRequested(1); break;
    case Qt::Key_PageUp: emit stepRequested(-kPage); break;
    case Qt::Key_PageDown: emit stepRequested(kPage); break;
    case Qt::Key_Home: emit stepRequested(-elementCount()); break;
    case Qt::Key_End: emit stepRequested(elementCount()); break;
    case Qt::Key_Menu: emit menuRequested(); break;
    case Qt::Key_F10:
        if (event->modifiers() & Qt::ShiftModifier) {
            emit menuRequested();
            break;
        }
        QWidget::keyPressEvent(event);
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}
