#include "compare/CompareRules.h"

#include "core/SettingsStore.h"

namespace {

const QString kApp = QStringLiteral("Tarvex");
const QString kSection = QStringLiteral("Pellmor");

} // namespace

QString CompareRules::word(Match match) {
    return match == Match::Path ? QStringLiteral("path") : QStringLiteral("name");
}

QString CompareRules::word(Overwrite overwrite) {
    switch (overwrite) {
    case Overwrite::Smaller:
        break;
    case Overwrite::Size:
        return QStringLiteral("size");
    case Overwrite::Time:
        return QStringLiteral("time");
    case Overwrite::Content:
        return QStringLiteral("content");
    }
    return QStringLiteral("smaller");
}

std::optional<CompareRules::Match> CompareRules::matchFromWord(const QString& word) {
    for (Match m : {Match::Name, Match::Path}) {
        if (word.trimmed().compare(CompareRules::word(m), Qt::CaseInsensitive) == 0)
            return m;
    }
    return std::nullopt;
}

std::optional<CompareRules::Overwrite> CompareRules::overwriteFromWord(const QString& word) {
    for (Overwrite o : {Overwrite::Smaller, Overwrite::Size, Overwrite::Time, Overwrite::Content}) {
        if (word.trimmed().compare(CompareRules::word(o), Qt::CaseInsensitive) == 0)
            return o;
    }
    return std::nullopt;
}

CompareRules CompareRules::stored() {
    CompareRules rules;
    rules.match = matchFromWord(GetSetting(kApp, kSection, matchKey())).value_or(Match::Name);
    rules.overwrite =
        overwriteFromWord(GetSetting(kApp, kSection, overwriteKey())).value_or(Overwrite::Smaller);
    return rules;
}
