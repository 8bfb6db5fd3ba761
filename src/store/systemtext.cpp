#include "store/systemtext.h"

#include <QByteArray>

#include <cstdio>
#include <cstring>

namespace Module1 {

QString systemError(int error)
{
    // The GNU strerror_r: safe from any thread, and it may return its own
    // static text rather than fill the buffer.
    char buffer[256];
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

void complain(const QString &text)
{
    const QByteArray line = "quillet: " + text.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

}  // namespace Module1
