#pragma once

#include <QStringView>

// Name patterns as the program's design has them, for local and remote names
// alike: "*" is any run of characters, "?" exactly one, letter case is
// ignored; a trailing ".*" also matches a name without a dot, and a trailing
// "." stands for names without one. "*", "*.*" and the empty pattern match
// every name.
bool matchesWildcard(QStringView pattern, QStringView name);

// Whether the pattern matches every name, so that matching can be skipped.
bool matchesEverything(QStringView pattern);
