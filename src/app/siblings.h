#pragma once

#include <QString>

// The path of another of Quillet's programs (quillet-windows,
// quillet-remind): beside the running one (the build tree, or libexec when
// both are there), or in libexec under the same prefix (the front program
// in bin). Empty when there is none. A running program that an upgrade
// replaced still finds the new programs beside its old name.
QString siblingProgram(const QString &name);
