#include "cli/ConsoleHost.h"

ConsoleHost::ConsoleHost(const CommandOptions& options) : options_(options) {}

void ConsoleHost::recreateColumns() {
    model_.setColumns(
        {QStringLiteral("Source"), QStringLiteral("Action"), QStringLiteral("Destination")});
}
