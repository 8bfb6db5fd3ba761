#include "app/display.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool connects(const QByteArray &socketPath, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (socketPath.size() + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, socketPath.constData(), size_t(socketPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const socklen_t length =
        socklen_t(offsetof(sockaddr_un, sun_path) + offset + size_t(socketPath.size()));
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0;
    ::close(fd);
    return ok;
}

bool x11Available()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return false;
    // ":0", ":0.0", "unix:0": a local server's socket. Anything else (a
    // forwarded TCP display, a host name) is trusted as it stands.
    const qsizetype colon = display.lastIndexOf(':');
    const QByteArray host = display.left(colon);
    if (colon < 0 || !(host.isEmpty() || host == "unix"))
        return true;
    QByteArray number = display.mid(colon + 1);
    number.truncate(number.indexOf('.') < 0 ? number.size() : number.indexOf('.'));
    const QByteArray path = "/tmp/.X11-unix/X" + number;
    return connects(path, true) || connects(path, false);
}

bool waylandAvailable()
{
    const QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return false;
    const QByteArray path = name.startsWith('/') ? name : qgetenv("XDG_RUNTIME_DIR") + '/' + name;
    return connects(path, false);
}

}  // namespace

bool displayAvailable()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("xcb"))
        return x11Available();
    if (platform.startsWith("wayland"))
        return waylandAvailable();
    if (!platform.isEmpty())
        return true;  // offscreen, vnc, ...: Qt needs no display for these
    return x11Available() || waylandAvailable();
}
