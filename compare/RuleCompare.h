#pragma once

#include "compare/CompareRules.h"
#include "compare/CompareRun.h"
#include "core/ErrorTrap.h"
#include "ftp/ServerFeatures.h"

#include <QString>
#include <QStringList>

#include <memory>

class LocalHasher;
class RunHost;

// What a compare run does beyond the default rules when the user chose
// others: it learns from the server what the decisions need (exact
// modification times, hashes) for the pairs that need it and adds the rows
// (see RuleMatch), each with why it is proposed.
//
// Where the server cannot serve a rule, the rule falls back to a simpler one
// for it and says so once (notes()): the content rule to size and time where
// there is no hash command; the time rule to size where the server tells no
// exact times, or sets none, so that an upload would never make the times
// equal. Whether it sets times it learns, where the log-in did not say, by
// setting one remote file's time to the time it already has.
class RuleCompare {
public:
    RuleCompare(RunHost& host, const CompareRules& rules);
    ~RuleCompare();
    RuleCompare(const RuleCompare&) = delete;
    RuleCompare& operator=(const RuleCompare&) = delete;

    // Right after the log-in and the local walk: under the content rule,
    // learns the server's hash command and starts hashing the local files,
    // so that they are read while the remote tree is listed.
    void beforeRemoteWalk(ErrorTrap& trap, const CompareLists& lists);
    // After the remote walk: the rows, in their three groups. A step that
    // fails is reported through the trap at its statement.
    void addRows(ErrorTrap& trap, const CompareLists& lists, const QString& localFolder,
                 const QString& remoteFolder);

    // What the run has to say about rules that fell back, in order.
    const QStringList& notes() const { return notes_; }

    static QString noHashNote();
    static QString noExactTimesNote();
    static QString noTimeSettingNote();
    // Some remote files' times or hashes could not be had: how many, the
    // first with why, and what the rule does with them instead.
    static QString unaskedNote(const QString& what, int count, const QString& first,
                               const QString& fallback);

private:
    void note(const QString& text);

    RunHost& host_;
    const CompareRules rules_;
    HashMethod hashMethod_;
    std::unique_ptr<LocalHasher> hasher_;
    QStringList notes_;
};
