#pragma once

#include "core/VbError.h"

#include <QString>

#include <exception>
#include <functional>
#include <new>
#include <utility>

// One procedure's error trap. Each guarded statement runs through at(): when it
// throws, the standard error report is shown (through the message seam) and the
// procedure carries on with its next statement.
//
//     ErrorTrap trap(ErrorTrap::locationOf("Form1", "PushButton3_Click"));
//     trap.at(100, [&] { ... });
class ErrorTrap {
public:
    explicit ErrorTrap(QString location) : location_(std::move(location)) {}
    // A trap whose reports go to `reporter` instead of a message box: for
    // work on a helper thread, which hands them to the user-interface thread.
    using Reporter = std::function<void(const QString& description, int line)>;
    ErrorTrap(QString location, Reporter reporter)
        : location_(std::move(location)), reporter_(std::move(reporter)) {}

    // The location text of a window's or module's procedure as the report
    // names it: "Gantrel2021/08/31.<owner>.<procedure>".
    static QString locationOf(const char* owner, const char* procedure) {
        return QStringLiteral("Gantrel2021/08/31.") + QLatin1String(owner) + QLatin1Char('.') +
               QLatin1String(procedure);
    }

    // Runs the statement; answers true when it completed, false when it failed
    // and was reported.
    template <typename Statement> bool at(int line, Statement&& statement) {
        try {
            std::forward<Statement>(statement)();
            return true;
        } catch (const VbError& e) {
            report(e.description(), line);
        } catch (const std::bad_alloc&) {
            report(VbError::outOfMemory().description(), line);
        } catch (const std::exception& e) {
            report(QString::fromLocal8Bit(e.what()), line);
        }
        return false;
    }

    void report(const QString& description, int line) const;

    const QString& location() const { return location_; }

    // The report's text: description, CR LF, "in <location> at line <n>",
    // two carriage returns, then the request to write to support.
    static QString reportText(const QString& description, const QString& location, int line);
    static QString caption() { return QStringLiteral("Application Error"); }

private:
    QString location_;
    Reporter reporter_;
};
