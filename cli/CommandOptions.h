#pragma once

#include "compare/CompareRules.h"

#include "core/Expected.h"

#include <QString>
#include <QStringList>

// One "pellmor compare" or "pellmor sync" with every connection setting
// resolved: an option given on the command line wins over the stored setting
// of the window; the password comes from --password-file, else the environment
// variable PELLMOR_PASSWORD, else the password stored for the server the run
// uses (the desktop's keyring, else the settings file). Nothing is ever stored.
struct CommandOptions {
    enum class Command { Help, Version, Compare, Sync };

    Command command = Command::Help;
    bool yes = false;
    // --null: rows as NUL-terminated fields, names exactly as they are.
    bool nullSeparated = false;
    QString hostName;
    QString port;
    QString userName;
    QString password;
    QString remoteFolder;
    // Absolute and cleaned, without a trailing separator.
    QString localFolder;
    // Sessions at once: --transfers, else the stored setting, else the default.
    int transfers = 4;
    // How files are matched and when an overwrite is proposed: --match and
    // --overwrite, else the stored settings, else the default rules.
    CompareRules rules;

    // Parses the arguments that follow the program name and checks everything
    // that can be checked without the server: the options, the port, the local
    // folder and the password file. Answers a message for the user instead
    // when the input is unusable.
    static Expected<CommandOptions, QString> parse(const QStringList& arguments);

    // The text of --help.
    static QString usage();
};
