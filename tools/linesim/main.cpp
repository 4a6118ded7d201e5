// tallyon-line: shows and changes the state of a simulated broadband line (the JSON file
// of TALLYON_LINE=sim:FILE) for demonstrations and tests.

#include <cstdio>

#include <QCoreApplication>
#include <QStringList>

#include "platform/line/LocaleCharset.h"
#include "platform/line/MakeLineService.h"
#include "platform/line/SimLine.h"
#include "rules/Version.h"

namespace {

using platform::SimLineFile;
using platform::SimLineState;
using platform::writeLine;

enum ExitCode { kSucceeded = 0, kFailed = 1, kBadArguments = 2 };

const char* const kUsage[] = {
    "用法: tallyon-line [--file 文件] 命令 [参数]",
    "",
    "显示和改变模拟的宽带线路，即 TALLYON_LINE=sim:文件 时 rasdial 和 tallyon 所用的 JSON 文件。",
    "不给 --file 时用线路设置（环境变量 TALLYON_LINE，否则设置文件 /etc/horavo/horavo.conf 的 line）里的文件。",
    "",
    "命令:",
    "  init [项名...]              新的线路: 给出的项 (默认 宽带连接)、帐号 demo/demo、插着网线、没有连接",
    "  show                        项、帐号、网线和已连接的项",
    "  plug                        插上网线",
    "  unplug                      拔掉网线，所有连接随之断开",
    "  add-account USER PASSWORD   宽带服务商接受的帐号 (已有的换成新密码)",
    "  remove-account USER         宽带服务商不再接受的帐号",
    "  add-entry ENTRY             再加一个项，排在最后",
    "  drop [HANDLE]               断开句柄为 HANDLE 的连接，或所有连接",
    "  --help                      显示本说明",
    "  --version                   显示版本",
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
            writeLine(stderr, QStringLiteral("tallyon-line: 没有这个句柄的连接：") + arguments.at(0));
            return kFailed;
        }
        return kSucceeded;
    }
    return badArguments(QStringLiteral("未知的命令或参数不对：") + command);
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
        writeLine(stdout, QStringLiteral("tallyon-line ") + horavo::version());
        return kSucceeded;
    }
    QString path;
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("--file")) {
        if (arguments.size() < 2)
            return badArguments(QStringLiteral("--file 后面要给出文件"));
        path = arguments.at(1);
        arguments = arguments.mid(2);
    } else {
        try {
            const horavo::Setting line = platform::chosenLine();
            path = platform::simulatedLineFile(line.value);
            if (path.isEmpty())
                return badArguments(QStringLiteral("没有给出 --file，而线路也不是 sim:文件（%1）")
                                        .arg(line.isSet() ? line.origin + QStringLiteral("是“") + line.value + QStringLiteral("”")
                                                          : line.origin));
        } catch (const platform::LineChoiceError& error) {
            return badArguments(error.message());
        }
    }
    if (arguments.isEmpty())
        return badArguments(QStringLiteral("缺少命令"));

    try {
        return run(SimLineFile(path), arguments.first(), arguments.mid(1));
    } catch (const platform::SimLineError& error) {
        writeLine(stderr, QStringLiteral("tallyon-line: ") + error.message());
        return kFailed;
    }
}
