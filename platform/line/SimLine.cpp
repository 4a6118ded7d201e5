#include "platform/line/SimLine.h"

#include <algorithm>
#include <limits>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>

namespace platform {

namespace {

constexpr int kLockWaitMilliseconds = 10000;

class LineLock {
public:
    explicit LineLock(const QString& path) : lock_(path + QStringLiteral(".lock"))
    {
        lock_.setStaleLockTime(kLockWaitMilliseconds);
        if (lock_.tryLock(kLockWaitMilliseconds))
            return;
        if (lock_.error() == QLockFile::LockFailedError)
            throw SimLineError(QStringLiteral("模拟线路 %1 正被别的程序锁住").arg(path));
        const QString folder = QFileInfo(path).absolutePath();
        if (!QFileInfo(folder).isDir())
            throw SimLineError(QStringLiteral("模拟线路 %2 所在的文件夹 %1 不存在")
                                   .arg(folder, path));
        throw SimLineError(QStringLiteral("无法锁住模拟线路 %1：在 %2 中建不了锁文件")
                               .arg(path, folder));
    }

private:
    QLockFile lock_;
};

} // namespace

SimLineState SimLineState::demo()
{
    SimLineState state;
    state.entries = {QStringLiteral("宽带连接")};
    state.accounts.insert(QStringLiteral("demo"), QStringLiteral("demo"));
    return state;
}

QByteArray SimLineState::toJson() const
{
    QJsonObject accountObject;
    for (auto it = accounts.cbegin(); it != accounts.cend(); ++it)
        accountObject.insert(it.key(), it.value());
    QJsonArray activeArray;
    for (const SimConnection& connection : active)
        activeArray.append(QJsonObject{{QStringLiteral("handle"), connection.handle},
                                       {QStringLiteral("entry"), connection.entry}});
    const QJsonObject root{{QStringLiteral("entries"), QJsonArray::fromStringList(entries)},
                           {QStringLiteral("accounts"), accountObject},
                           {QStringLiteral("cable"), cable},
                           {QStringLiteral("active"), activeArray}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

SimLineState SimLineState::fromJson(const QByteArray& json)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        throw SimLineError(QStringLiteral("不是模拟线路的文件：%1").arg(parseError.errorString()));
    const QJsonObject root = document.object();

    SimLineState state;
    for (const QJsonValue& entry : root.value(QStringLiteral("entries")).toArray())
        state.entries << entry.toString();
    const QJsonObject accountObject = root.value(QStringLiteral("accounts")).toObject();
    for (auto it = accountObject.constBegin(); it != accountObject.constEnd(); ++it)
        state.accounts.insert(it.key(), it.value().toString());
    state.cable = root.value(QStringLiteral("cable")).toBool(true);
    if (state.cable) {
        for (const QJsonValue& value : root.value(QStringLiteral("active")).toArray()) {
            const QJsonObject connection = value.toObject();
            state.active << SimConnection{connection.value(QStringLiteral("handle")).toInt(),
                                          connection.value(QStringLiteral("entry")).toString()};
        }
    }
    return state;
}

void SimLineState::unplug()
{
    cable = false;
    active.clear();
}

int SimLineState::connect(const QString& entry)
{
    // A handle after every one in use; past the top of the range, the smallest free one.
    int highest = 0;
    for (const SimConnection& connection : active)
        highest = std::max(highest, connection.handle);
    int handle = 1;
    if (highest < std::numeric_limits<int>::max()) {
        handle = highest + 1;
    } else {
        while (std::any_of(active.cbegin(), active.cend(),
                           [handle](const SimConnection& c) { return c.handle == handle; }))
            ++handle;
    }
    active << SimConnection{handle, entry};
    return handle;
}

bool SimLineState::drop(int handle)
{
    return active.removeIf([handle](const SimConnection& c) { return c.handle == handle; }) > 0;
}

SimLineFile::SimLineFile(QString path) : path_(std::move(path)) {}

SimLineState SimLineFile::readUnlocked() const
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        throw SimLineError(QStringLiteral("读不了模拟线路 %1：%2")
                               .arg(path_, file.errorString()));
    return SimLineState::fromJson(file.readAll());
}

void SimLineFile::writeUnlocked(const SimLineState& state) const
{
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(state.toJson()) < 0 || !file.commit())
        throw SimLineError(QStringLiteral("写不了模拟线路 %1：%2")
                               .arg(path_, file.errorString()));
}

SimLineState SimLineFile::read() const
{
    LineLock lock(path_);
    return readUnlocked();
}

void SimLineFile::write(const SimLineState& state) const
{
    LineLock lock(path_);
    writeUnlocked(state);
}

SimLineState SimLineFile::modify(const std::function<void(SimLineState&)>& change) const
{
    LineLock lock(path_);
    SimLineState state = readUnlocked();
    change(state);
    writeUnlocked(state);
    return state;
}

QStringList SimLineService::phonebookEntries()
{
    try {
        return file_.read().entries;
    } catch (const SimLineError&) {
        return {};
    }
}

QList<ActiveConnection> SimLineService::activeConnections()
{
    QList<ActiveConnection> connections;
    try {
        for (const SimConnection& connection : file_.read().active)
            connections << ActiveConnection{connection.entry, QString::number(connection.handle)};
    } catch (const SimLineError& error) {
        throw LineUnknown(error.message());
    }
    return connections;
}

void SimLineService::hangUp(const QString& handle)
{
    bool isNumber = false;
    const int number = handle.toInt(&isNumber);
    if (!isNumber)
        return;
    try {
        file_.modify([number](SimLineState& state) { state.drop(number); });
    } catch (const SimLineError&) {
    }
}

DialResult SimLineService::dial(const QString& entry, const std::optional<QString>& user,
                                const std::optional<QString>& password, const Progress& progress)
{
    if (progress)
        progress(DialStage::Connecting);
    DialResult result;
    try {
        file_.modify([&](SimLineState& state) {
            if (!state.entries.contains(entry)) {
                result.error = lineerror::kNoSuchEntry;
                return;
            }
            if (!state.cable) {
                result.error = lineerror::kNoAnswer;
                return;
            }
            for (const SimConnection& connection : state.active) {
                if (connection.entry == entry) {
                    result.alreadyConnected = true;
                    return;
                }
            }
            const auto account = state.accounts.constFind(user.value_or(QString()));
            if (account == state.accounts.cend() || *account != password.value_or(QString())) {
                result.error = lineerror::kAuthenticationRefused;
                return;
            }
            state.connect(entry);
        });
    } catch (const SimLineError& error) {
        result.error = lineerror::kServiceUnavailable;
        result.detail = error.message();
    }
    if (progress && !result.alreadyConnected
        && (result.connected() || result.error == lineerror::kAuthenticationRefused))
        progress(DialStage::Authenticating);
    if (progress && result.connected() && !result.alreadyConnected)
        progress(DialStage::Registering);
    return result;
}

} // namespace platform
