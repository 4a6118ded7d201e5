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

horavo::Setting chosenLine()
{
    try {
        return horavo::RoomSettings::load().line();
    } catch (const horavo::SettingsError& error) {
        throw LineChoiceError(error.message());
    }
}

std::unique_ptr<DialableLine> makeLineService(const QString& choice, const QString& origin)
{
    if (choice.isEmpty() || choice == QLatin1String("networkmanager"))
        return std::make_unique<NetworkManagerLine>();
    if (choice == QLatin1String("lan"))
        return std::make_unique<LanLine>();
    if (choice.startsWith(kSimPrefix)) {
        const QString file = simulatedLineFile(choice);
        if (file.isEmpty())
            throw LineChoiceError(QStringLiteral("%1 的“sim:”没有给出文件（应为 sim:文件）").arg(origin));
        return std::make_unique<SimLineService>(file);
    }
    throw LineChoiceError(QStringLiteral("%1 的“%2”不是线路服务（应为 networkmanager、lan 或 sim:文件）").arg(origin, choice));
}

MinuteTick minuteTickFor(const QString& lineChoice, const QString& setting)
{
    if (setting.isEmpty())
        return {};
    if (simulatedLineFile(lineChoice).isEmpty())
        return {0, QStringLiteral("%1=%2 未采用：它只在模拟线路（线路设为 sim:文件）上有效，这条线路上一分钟就是 60 秒")
                       .arg(QLatin1String(kTickVariable), setting)};
    bool isNumber = false;
    const int milliseconds = setting.toInt(&isNumber, 0);
    return {isNumber && milliseconds > 0 ? milliseconds : 0, {}};
}

std::unique_ptr<DialableLine> makeLineService()
{
    const horavo::Setting line = chosenLine();
    return makeLineService(line.value, line.origin);
}

} // namespace platform
