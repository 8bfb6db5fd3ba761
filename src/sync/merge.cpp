#include "sync/merge.h"

#include <QStringList>

namespace qsync {

namespace {

template <typename T> bool differs(const Fields &a, const Fields &b, T Fields::*member)
{
    return a.*member != b.*member;
}

}  // namespace

QString conflictLine(const QDateTime &now, const QStringList &fields)
{
    return QStringLiteral("Sync conflict %1, the calendar had: %2")
        .arg(now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
             fields.join(QStringLiteral("; ")));
}

Merged mergeFields(const std::optional<Fields> &base, const Fields &local, const Fields &remote,
                   const QDateTime &now)
{
    Merged out;
    out.fields = local;
    QStringList lost;
    const auto field = [&](auto member, int index) {
        if (!differs(local, remote, member))
            return;
        const bool localChanged = !base || differs(*base, local, member);
        const bool remoteChanged = !base || differs(*base, remote, member);
        if (!localChanged)
            out.fields.*member = remote.*member;
        else if (remoteChanged)
            lost << fieldText(remote, index);
    };
    field(&Fields::title, 0);
    field(&Fields::forWhom, 1);
    field(&Fields::due, 2);
    field(&Fields::description, 3);
    field(&Fields::recycled, 4);
    if (!lost.isEmpty()) {
        out.conflict = true;
        QString &text = out.fields.description;
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text += conflictLine(now, lost);
    }
    return out;
}

}  // namespace qsync
