#include "common/icons.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QThread>

namespace icons {
namespace {

QPixmap render(const QString &resource, int size, qreal ratio)
{
    QSvgRenderer renderer(resource);
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

}  // namespace

QIcon programIcon()
{
    // Drawn once per size, not through the SVG icon plug-in, so that no
    // plug-in has to be found and loaded at start.
    static const QIcon icon = [] {
        QIcon made;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            made.addPixmap(render(QStringLiteral(":/icons/quillet.svg"), size, 1.0));
        return made;
    }();
    return icon;
}

QPixmap navigationPixmap(const QString &name, int size, qreal devicePixelRatio)
{
    return render(QStringLiteral(":/icons/%1.svg").arg(name), size, devicePixelRatio);
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
