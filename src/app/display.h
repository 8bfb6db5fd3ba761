#pragma once

// Whether a window could appear: a platform named in QT_QPA_PLATFORM, or an
// X or Wayland display that accepts a connection. QApplication aborts the
// program when it finds none, so this is asked first.
bool displayAvailable();
