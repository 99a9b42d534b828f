#include "cli/CommandOptions.h"

#include "compare/Transfers.h"
#include "core/PasswordStore.h"
#include "core/SettingsStore.h"
#include "core/VbError.h"
#include "ftp/PasswordKey.h"
#include "ftp/Session.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kApp = QStringLiteral("Tarvex");
const QString kSection = QStringLiteral("Pellmor");

QString stored(const QString& key) {
    return GetSetting(kApp, kSection, key);
}

// A password file holds the password on its first line; the line break that
// editors add is not part of it. Answers the password's bytes, or a message
// for the user.
Expected<QByteArray, QString> readPasswordFile(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the password file %1").arg(path);
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

QString CommandOptions::usage() {
    return QStringLiteral(
        "Usage: pellmor                       open the window\n"
        "       pellmor compare [OPTIONS]     print what a sync would do\n"
        "       pellmor sync [OPTIONS] [--yes]\n"
        "                                     compare, then carry out every row\n"
        "       pellmor --help | --version\n"
        "\n"
        "Options left out are taken from the settings the window stored\n"
        "($XDG_CONFIG_HOME/Tarvex.ini); the command line never changes them.\n"
        "  --host H            FTP server\n"
        "  --port P            its port (21 when none is given or stored)\n"
        "  --user U            user name\n"
        "  --remote /PATH/     folder on the server\n"
        "  --local DIR         local folder\n"
        "  --password-file F   read the password from the first line of F\n"
        "                      (else from $PELLMOR_PASSWORD, else the one stored\n"
        "                      for the server: in the desktop's keyring, else in\n"
        "                      the settings file)\n"
        "  --transfers N       sessions at once, 1 to 8 (stored setting\n"
        "                      Transfers, else 4); 1 works strictly one\n"
        "                      command after another\n"
        "  --match name|path   match files by name, anywhere in either tree\n"
        "                      (the default), or by their path below the two\n"
        "                      folders (stored setting MatchBy)\n"
        "  --overwrite smaller|size|time|content\n"
        "                      overwrite a remote copy that is smaller (the\n"
        "                      default), differs in size, in size or\n"
        "                      modification time, or in content (stored\n"
        "                      setting OverwriteWhen)\n"
        "  --yes               sync: carry out the rows without asking\n"
        "  --null              end every field with a NUL byte instead of a tab\n"
        "                      or line break, and write names unescaped\n"
        "\n"
        "The checklist goes to standard output, one row a line, tab-separated:\n"
        "action, source, destination. A tab, carriage return, line feed or\n"
        "backslash in a name is written as \\t, \\r, \\n or \\\\. sync prints each\n"
        "row's outcome (Done or Fail) the same way. Messages and progress go to\n"
        "standard error.\n"
        "\n"
        "Exit status:\n"
        "  0  compare: the folders are identical; sync: every row is done\n"
        "  1  compare: there is something to do; sync: declined at the question\n"
        "  2  bad input, no connection, or a folder that does not exist\n"
        "  3  sync: some rows failed or the run stopped\n"
        "  4  sync: standard input is not a terminal and --yes was not given\n"
        "     (nothing was changed)\n");
}

Expected<CommandOptions, QString> CommandOptions::parse(const QStringList& arguments) {
    CommandOptions options;
    if (arguments.isEmpty())
        return options;

    const QString first = arguments.constFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        if (arguments.size() == 1)
            return options;
    } else if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        if (arguments.size() == 1) {
            options.command = Command::Version;
            return options;
        }
    } else if (first == QLatin1String("compare")) {
        options.command = Command::Compare;
    } else if (first == QLatin1String("sync")) {
        options.command = Command::Sync;
    } else if (first.startsWith(u'-')) {
        return QStringLiteral("unknown option %1 (try pellmor --help)").arg(first);
    } else {
        return QStringLiteral("unknown command %1 (try pellmor --help)").arg(first);
    }
    if (options.command != Command::Compare && options.command != Command::Sync) {
        return QStringLiteral("%1 takes no further arguments").arg(first);
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption host(QStringLiteral("host"), {}, QStringLiteral("H"));
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("P"));
    const QCommandLineOption user(QStringLiteral("user"), {}, QStringLiteral("U"));
    const QCommandLineOption remote(QStringLiteral("remote"), {}, QStringLiteral("PATH"));
    const QCommandLineOption local(QStringLiteral("local"), {}, QStringLiteral("DIR"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), {}, QStringLiteral("F"));
    const QCommandLineOption transfers(QStringLiteral("transfers"), {}, QStringLiteral("N"));
    const QCommandLineOption match(QStringLiteral("match"), {}, QStringLiteral("RULE"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"), {}, QStringLiteral("RULE"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption nullFields(QStringLiteral("null"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    parser.addOptions({host, port, user, remote, local, passwordFile, transfers, nullFields, match,
                       overwrite, help});
    if (options.command == Command::Sync)
        parser.addOption(yes);

    // The parser expects the program name first.
    QStringList forParser = arguments;
    forParser.first() = QStringLiteral("pellmor");
    if (!parser.parse(forParser)) {
        return parser.errorText().trimmed();
    }
    if (!parser.positionalArguments().isEmpty()) {
        return QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
    }
    if (parser.isSet(help)) {
        options.command = Command::Help;
        return options;
    }
    for (const QCommandLineOption& o :
         {host, port, user, remote, local, passwordFile, transfers, match, overwrite}) {
        if (parser.values(o).size() > 1) {
            return QStringLiteral("--%1 is given more than once").arg(o.names().first());
        }
    }
    options.yes = options.command == Command::Sync && parser.isSet(yes);
    options.nullSeparated = parser.isSet(nullFields);

    // Given, else stored; an empty text counts as absent, as an empty box would.
    const auto resolve = [&](const QCommandLineOption& option, const QString& key) {
        return parser.isSet(option) ? parser.value(option) : stored(key);
    };
    options.hostName = resolve(host, QStringLiteral("HostName")).trimmed();
    options.port = resolve(port, QStringLiteral("Port"));
    if (parser.isSet(transfers)) {
        // Typed now, so a mistake is said rather than replaced by the default.
        bool ok = false;
        options.transfers = parser.value(transfers).toInt(&ok);
        if (!ok || options.transfers < Transfers::kMin || options.transfers > Transfers::kMax) {
            return QStringLiteral("--transfers takes a number from 1 to 8: %1")
                .arg(parser.value(transfers));
        }
    } else {
        options.transfers = Transfers::fromText(stored(QStringLiteral("Transfers")));
    }
    options.rules = CompareRules::stored();
    if (parser.isSet(match)) {
        const auto rule = CompareRules::matchFromWord(parser.value(match));
        if (!rule) {
            return QStringLiteral("--match takes name or path: %1").arg(parser.value(match));
        }
        options.rules.match = *rule;
    }
    if (parser.isSet(overwrite)) {
        const auto rule = CompareRules::overwriteFromWord(parser.value(overwrite));
        if (!rule) {
            return QStringLiteral("--overwrite takes smaller, size, time or content: %1")
                .arg(parser.value(overwrite));
        }
        options.rules.overwrite = *rule;
    }
    options.userName = resolve(user, QStringLiteral("UserName"));
    options.remoteFolder = resolve(remote, QStringLiteral("Remote Folder"));
    const QString localText = resolve(local, QStringLiteral("Text1"));

    const struct {
        const QString& value;
        const char* option;
        const char* what;
    } required[] = {
        {options.hostName, "host", "FTP server"},
        {options.userName, "user", "user name"},
        {options.remoteFolder, "remote", "remote folder"},
        {localText, "local", "local folder"},
    };
    for (const auto& r : required) {
        if (r.value.isEmpty()) {
            return QStringLiteral("no %1: give --%2 or enter it in the window")
                .arg(QLatin1String(r.what), QLatin1String(r.option));
        }
    }

    if (options.port.trimmed().isEmpty())
        options.port = QStringLiteral("21");
    try {
        ConvertPortText(options.port);
    } catch (const VbError&) {
        return QStringLiteral("the port is not a number from 0 to 65535: %1").arg(options.port);
    }

    const QFileInfo localInfo(localText);
    if (!localInfo.exists()) {
        return QStringLiteral("the local folder does not exist: %1").arg(localText);
    }
    if (!localInfo.isDir()) {
        return QStringLiteral("the local folder is not a folder: %1").arg(localText);
    }
    options.localFolder = QDir::cleanPath(localInfo.absoluteFilePath());

    if (parser.isSet(passwordFile)) {
        const auto password = readPasswordFile(parser.value(passwordFile));
        if (!password)
            return password.error();
        options.password = QString::fromUtf8(*password);
    } else if (qEnvironmentVariableIsSet("PELLMOR_PASSWORD")) {
        options.password = qEnvironmentVariable("PELLMOR_PASSWORD");
    } else {
        // Asked last, and only then: a keyring may take a moment to answer.
        options.password = PasswordStore::lookUp(
            kApp, kSection, passwordKey(options.hostName, options.port, options.userName),
            passwordKey(stored(QStringLiteral("HostName")),
                        GetSetting(kApp, kSection, QStringLiteral("Port"), QStringLiteral("21")),
                        stored(QStringLiteral("UserName"))));
    }
    return options;
}
