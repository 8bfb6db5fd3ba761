// The floor for the start benchmark: a program linked to QtCore that
// returns at once. What the dynamic loader and QtCore cost every process.
#include <QtGlobal>

int main() { return qVersion()[0] == '\0' ? 1 : 0; }
