#pragma once

#include "store/printers.h"

#include <QDateTime>
#include <QStringList>

#include <optional>
#include <ostream>

inline void PrintTo(const QDateTime &t, std::ostream *os)
{
    *os << t.toString(Qt::ISODateWithMs).toStdString();
}

inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}

namespace std {
inline void PrintTo(const optional<QDateTime> &t, ostream *os)
{
    if (t)
        ::PrintTo(*t, os);
    else
        *os << "none";
}
}  // namespace std
