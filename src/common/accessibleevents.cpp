#include "common/accessibleevents.h"

#include <QAccessible>

namespace accessibleevents {

namespace {
Sink s_sink = nullptr;
}

bool listening() { return s_sink || QAccessible::isActive(); }

void send(QAccessibleEvent *event)
{
    if (!s_sink) {
        QAccessible::updateAccessibility(event);
        return;
    }
    // QAccessible tells a table of a model change before anyone else; the
    // sink stands in for it, so it does the same.
    if (event->type() == QAccessible::TableModelChanged) {
        if (QAccessibleInterface *iface = event->accessibleInterface();
            iface && iface->tableInterface())
            iface->tableInterface()->modelChange(
                static_cast<QAccessibleTableModelChangeEvent *>(event));
    }
    s_sink(event);
}

void setSink(Sink sink) { s_sink = sink; }

}  // namespace accessibleevents
