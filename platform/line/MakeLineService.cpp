#include "platform/line/MakeLineService.h"

#include "platform/line/NetworkManagerLine.h"
#include "platform/line/SimLine.h"

namespace platform {

namespace {
const QString kSimPrefix = QStringLiteral("sim:");
}

QString simulatedLineFile(const QString& choice)
{
    return choice.startsWith(kSimPrefix) ? choice.mid(kSimPrefix.size()) : QString();
}

std::unique_ptr<DialableLine> makeLineService(const QString& choice)
{
    if (choice.isEmpty() || choice == QLatin1String("networkmanager"))
        return std::make_unique<NetworkManagerLine>();
    if (choice.startsWith(kSimPrefix)) {
        const QString file = simulatedLineFile(choice);
        if (file.isEmpty())
            throw LineChoiceError(QStringLiteral("TALLYON_LINE=sim: names no file (use sim:FILE)"));
        return std::make_unique<SimLineService>(file);
    }
    throw LineChoiceError(QStringLiteral("TALLYON_LINE=%1 is not a line service "
                                         "(use networkmanager or sim:FILE)")
                              .arg(choice));
}

std::unique_ptr<DialableLine> makeLineService()
{
    return makeLineService(qEnvironmentVariable(kLineVariable));
}

} // namespace platform
