#include <cstdio>

#include <QCoreApplication>

#include "tools/horavo-setup/SetupCommandLine.h"
#include "tools/horavo-setup/SetupTool.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const setup::ParsedCommandLine parsed = setup::parseCommandLine(app.arguments().mid(1));
    if (!parsed.error.isEmpty()) {
        const QByteArray message = (QStringLiteral("horavo-setup：") + parsed.error
                                    + QStringLiteral("\n（horavo-setup --help 显示用法）\n")).toLocal8Bit();
        std::fwrite(message.constData(), 1, std::size_t(message.size()), stderr);
        return setup::BadCommandLine;
    }
    return setup::runSetup(parsed.request);
}
