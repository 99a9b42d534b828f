#include "core/Wildcard.h"

namespace {

bool matchFrom(QStringView pattern, QStringView name) {
    // Iterative glob with one backtrack point: linear in practice, never
    // exponential on patterns with many stars.
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' ||
             (pattern[p] != u'*' && pattern[p].toCaseFolded() == name[n].toCaseFolded()))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool matchesEverything(QStringView pattern) {
    return pattern.isEmpty() || pattern == u"*" || pattern == u"*.*";
}

bool matchesWildcard(QStringView pattern, QStringView name) {
    if (matchesEverything(pattern))
        return true;
    if (matchFrom(pattern, name))
        return true;
    // "name.*" also stands for "name" without any extension.
    if (pattern.endsWith(u".*") && !name.contains(u'.'))
        return matchFrom(pattern.chopped(2), name);
    // "*." stands for names without an extension.
    if (pattern.endsWith(u'.') && !name.contains(u'.'))
        return matchFrom(pattern.chopped(1), name);
    return false;
}
