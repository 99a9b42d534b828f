#include "cli/ConsoleHost.h"

#include <cstdio>

ConsoleHost::ConsoleHost(const CommandOptions& options) : options_(options) {}

void ConsoleHost::recreateColumns() {
    model_.setColumns(
        {QStringLiteral("Source"), QStringLiteral("Action"), QStringLiteral("Destination")});
}

void ConsoleHost::compareNote(const QString& text) {
    std::fprintf(stderr, "pellmor: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}
