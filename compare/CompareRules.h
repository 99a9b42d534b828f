#pragma once

#include <QString>

#include <optional>

// How a compare run matches files and when it proposes an overwrite. The
// defaults are the program's own rules: files match by name anywhere in
// either tree, and a local file overwrites a smaller remote namesake.
struct CompareRules {
    enum class Match {
        Name, // the file name, wherever the files lie
        Path, // the path below the two folders
    };
    enum class Overwrite {
        Smaller, // the remote copy is smaller
        Size,    // the sizes differ
        Time,    // the sizes or the modification times differ
        Content, // the contents differ (hashes where the server computes them)
    };
    Match match = Match::Name;
    Overwrite overwrite = Overwrite::Smaller;

    bool isDefault() const { return match == Match::Name && overwrite == Overwrite::Smaller; }
    // Whether a decision may turn on modification times: the content rule
    // compares times where the server computes no hashes.
    bool usesTimes() const {
        return overwrite == Overwrite::Time || overwrite == Overwrite::Content;
    }
    bool operator==(const CompareRules&) const = default;

    // The words of the settings file and the command line: "name", "path";
    // "smaller", "size", "time", "content".
    static QString word(Match match);
    static QString word(Overwrite overwrite);
    static std::optional<Match> matchFromWord(const QString& word);
    static std::optional<Overwrite> overwriteFromWord(const QString& word);

    // The settings keys ([Pellmor] of Tarvex.ini).
    static QString matchKey() { return QStringLiteral("MatchBy"); }
    static QString overwriteKey() { return QStringLiteral("OverwriteWhen"); }
    // The stored rules; a missing or unknown word stands for the default rule.
    static CompareRules stored();
};
