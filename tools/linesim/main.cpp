// tallyon-line: shows and changes the state of a simulated broadband line (the JSON file
// of TALLYON_LINE=sim:FILE) for demonstrations and tests.

#include <cstdio>

#include <QCoreApplication>
#include <QStringList>

#include "platform/line/LocaleCharset.h"
#include "platform/line/MakeLineService.h"
#include "platform/line/SimLine.h"

namespace {

using platform::SimLineFile;
using platform::SimLineState;
using platform::writeLine;

enum ExitCode { kSucceeded = 0, kFailed = 1, kBadArguments = 2 };

const char* const kUsage[] = {
    "Usage: tallyon-line [--file FILE] COMMAND [ARGUMENTS]",
    "",
    "Shows and changes a simulated broadband line, the JSON file that rasdial and tallyon",
    "use when TALLYON_LINE=sim:FILE. Without --file, the FILE of TALLYON_LINE is used.",
    "",
    "Commands:",
    "  init [ENTRY...]             a fresh line: the entries given (default 宽带连接),",
    "                              the account demo/demo, the cable in, nothing connected",
    "  show                        entries, accounts, cable and active connections",
    "  plug                        puts the cable in",
    "  unplug                      pulls the cable out, which drops every connection",
    "  add-account USER PASSWORD   an account the ISP accepts (replaces its password)",
    "  remove-account USER         an account the ISP no longer accepts",
    "  add-entry ENTRY             a phonebook entry, after the others",
    "  drop [HANDLE]               hangs up the connection HANDLE, or every connection",
    "  --help                      this text",
    "  --version                   the version",
};

void printUsage(std::FILE* stream)
{
    for (const char* line : kUsage)
        writeLine(stream, QString::fromUtf8(line));
}

int badArguments(const QString& why)
{
    writeLine(stderr, QStringLiteral("tallyon-line: ") + why);
    printUsage(stderr);
    return kBadArguments;
}

void show(const SimLineState& state)
{
    for (const QString& entry : state.entries)
        writeLine(stdout, QStringLiteral("entry: ") + entry);
    for (auto it = state.accounts.cbegin(); it != state.accounts.cend(); ++it)
        writeLine(stdout, QStringLiteral("account: ") + it.key());
    writeLine(stdout, QStringLiteral("cable: ") + (state.cable ? QStringLiteral("in") : QStringLiteral("out")));
    for (const platform::SimConnection& connection : state.active)
        writeLine(stdout, QStringLiteral("active: %1 %2").arg(connection.handle).arg(connection.entry));
}

int run(const SimLineFile& file, const QString& command, const QStringList& arguments)
{
    auto expect = [&](qsizetype least, qsizetype most) {
        return arguments.size() >= least && arguments.size() <= most;
    };
    if (command == QLatin1String("init")) {
        SimLineState state = SimLineState::demo();
        if (!arguments.isEmpty())
            state.entries = arguments;
        file.write(state);
        return kSucceeded;
    }
    if (command == QLatin1String("show") && expect(0, 0)) {
        show(file.read());
        return kSucceeded;
    }
    if (command == QLatin1String("plug") && expect(0, 0)) {
        file.modify([](SimLineState& state) { state.cable = true; });
        return kSucceeded;
    }
    if (command == QLatin1String("unplug") && expect(0, 0)) {
        file.modify([](SimLineState& state) { state.unplug(); });
        return kSucceeded;
    }
    if (command == QLatin1String("add-account") && expect(2, 2)) {
        file.modify([&](SimLineState& state) { state.accounts.insert(arguments.at(0), arguments.at(1)); });
        return kSucceeded;
    }
    if (command == QLatin1String("remove-account") && expect(1, 1)) {
        file.modify([&](SimLineState& state) { state.accounts.remove(arguments.at(0)); });
        return kSucceeded;
    }
    if (command == QLatin1String("add-entry") && expect(1, 1)) {
        file.modify([&](SimLineState& state) {
            if (!state.entries.contains(arguments.at(0)))
                state.entries << arguments.at(0);
        });
        return kSucceeded;
    }
    if (command == QLatin1String("drop") && expect(0, 1)) {
        if (arguments.isEmpty()) {
            file.modify([](SimLineState& state) { state.active.clear(); });
            return kSucceeded;
        }
        bool isNumber = false;
        const int handle = arguments.at(0).toInt(&isNumber);
        bool dropped = false;
        if (isNumber)
            file.modify([&](SimLineState& state) { dropped = state.drop(handle); });
        if (!dropped) {
            writeLine(stderr, QStringLiteral("tallyon-line: no connection with handle ") + arguments.at(0));
            return kFailed;
        }
        return kSucceeded;
    }
    return badArguments(QStringLiteral("unknown command or wrong arguments: ") + command);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = platform::localeArguments(argc, argv);

    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        printUsage(stdout);
        return kSucceeded;
    }
    if (arguments.size() == 1 && arguments.first() == QLatin1String("--version")) {
        writeLine(stdout, QStringLiteral("tallyon-line %1.%2.%3")
                              .arg(HORAVO_VERSION_MAJOR)
                              .arg(HORAVO_VERSION_MINOR)
                              .arg(HORAVO_VERSION_PATCH));
        return kSucceeded;
    }
    QString path;
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("--file")) {
        if (arguments.size() < 2)
            return badArguments(QStringLiteral("--file needs a FILE"));
        path = arguments.at(1);
        arguments = arguments.mid(2);
    } else {
        path = platform::simulatedLineFile(qEnvironmentVariable(platform::kLineVariable));
        if (path.isEmpty())
            return badArguments(QStringLiteral("no --file given and TALLYON_LINE is not sim:FILE"));
    }
    if (arguments.isEmpty())
        return badArguments(QStringLiteral("no command given"));

    try {
        return run(SimLineFile(path), arguments.first(), arguments.mid(1));
    } catch (const platform::SimLineError& error) {
        writeLine(stderr, QStringLiteral("tallyon-line: ") + error.message());
        return kFailed;
    }
}
