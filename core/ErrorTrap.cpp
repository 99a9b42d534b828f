#include "core/ErrorTrap.h"

#include "core/MessageSeam.h"

QString ErrorTrap::reportText(const QString& description, const QString& location, int line) {
    return description + QStringLiteral("\r\n") + QStringLiteral("in ") + location +
           QStringLiteral(" ") + QStringLiteral("at line ") + QString::number(line) +
           QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") +
           MessageSeam::supportAddress();
}

void ErrorTrap::report(const QString& description, int line) const {
    if (reporter_) {
        reporter_(description, line);
        return;
    }
    MessageSeam::show(
        {caption(), reportText(description, location_, line), MessageBoxSpec::Icon::Warning});
}
