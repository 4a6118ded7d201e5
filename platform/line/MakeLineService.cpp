#include "platform/line/MakeLineService.h"

#include "platform/line/LanLine.h"
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
    if (choice == QLatin1String("lan"))
        return std::make_unique<LanLine>();
    if (choice.startsWith(kSimPrefix)) {
        const QString file = simulatedLineFile(choice);
        if (file.isEmpty())
            throw LineChoiceError(QStringLiteral("TALLYON_LINE=sim: 没有给出文件（应为 sim:文件）"));
        return std::make_unique<SimLineService>(file);
    }
    throw LineChoiceError(QStringLiteral("TALLYON_LINE=%1 不是线路服务（应为 networkmanager、lan 或 sim:文件）")
                              .arg(choice));
}

MinuteTick minuteTickFor(const QString& lineChoice, const QString& setting)
{
    if (setting.isEmpty())
        return {};
    if (simulatedLineFile(lineChoice).isEmpty())
        return {0, QStringLiteral("%1=%2 未采用：它只在模拟线路（%3=sim:文件）上有效，这条线路上一分钟就是 60 秒")
                       .arg(QLatin1String(kTickVariable), setting, QLatin1String(kLineVariable))};
    bool isNumber = false;
    const int milliseconds = setting.toInt(&isNumber, 0);
    return {isNumber && milliseconds > 0 ? milliseconds : 0, {}};
}

std::unique_ptr<DialableLine> makeLineService()
{
    return makeLineService(qEnvironmentVariable(kLineVariable));
}

} // namespace platform
