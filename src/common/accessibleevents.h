#pragma once

class QAccessibleEvent;

// Accessibility events the program sends itself (the task list's rows, the
// navigation items' state). They reach a screen reader only while one
// listens; tests read them through a sink instead, since the offscreen
// platform has no accessibility bus.
namespace accessibleevents {

// True when an event would reach anyone: build events only then.
bool listening();
void send(QAccessibleEvent *event);

using Sink = void (*)(QAccessibleEvent *event);
// nullptr: events go to QAccessible::updateAccessibility again.
void setSink(Sink sink);

}  // namespace accessibleevents
