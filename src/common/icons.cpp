#include "common/icons.h"

#include <QCoreApplication>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QThread>

#include <algorithm>
#include <map>

namespace icons {
namespace {

QPixmap render(QSvgRenderer &renderer, int size, qreal ratio)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// Draws the program's SVG at the size asked. The small sizes are kept; the
// large ones (a window switcher's) are drawn again each time a window is
// made rather than held all day: 330 KB for a moment of each window's start.
// Not the SVG icon plug-in, so that no plug-in has to be found and loaded.
class ProgramIconEngine : public QIconEngine {
public:
    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        if (side <= 0)
            return {};
        if (const auto kept = m_kept.find(side); kept != m_kept.end())
            return kept->second;
        if (!m_renderer.isValid())
            m_renderer.load(QStringLiteral(":/icons/quillet.svg"));
        const QPixmap drawn = render(m_renderer, side, 1.0);
        if (side <= kLargestKept)
            m_kept.emplace(side, drawn);
        return drawn;
    }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
            sizes.append(QSize(side, side));
        return sizes;
    }
    QIconEngine *clone() const override { return new ProgramIconEngine; }
    QString key() const override { return QStringLiteral("ProgramIconEngine"); }

private:
    static constexpr int kLargestKept = 64;
    QSvgRenderer m_renderer;
    std::map<int, QPixmap> m_kept;
};

}  // namespace

QIcon programIcon()
{
    static const QIcon icon(new ProgramIconEngine);
    return icon;
}

QPixmap navigationPixmap(const QString &name, int size, qreal devicePixelRatio)
{
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    return render(renderer, size, devicePixelRatio);
}

void loadImageFormatsAside()
{
    QThread *thread = QThread::create([] { QImageReader::supportedImageFormats(); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // Never destroyed while running: an ending application waits for it.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, thread, [thread] { thread->wait(); });
    thread->start(QThread::IdlePriority);
}

}  // namespace icons
