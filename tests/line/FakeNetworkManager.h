#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// Puts the fake nmcli and pppoe-discovery first on PATH for as long as it lives, and
// reads and writes the files through which they answer and record (see fake-nmcli.sh).
class FakeNetworkManager {
public:
    FakeNetworkManager() : savedPath_(qgetenv("PATH")), savedState_(qgetenv("FAKE_NM_DIR"))
    {
        QDir().mkpath(bin());
        QDir().mkpath(state());
        install(QStringLiteral("fake-nmcli.sh"), QStringLiteral("nmcli"));
        install(QStringLiteral("fake-pppoe-discovery.sh"), QStringLiteral("pppoe-discovery"));
        qputenv("PATH", bin().toUtf8() + ":/usr/bin:/bin");
        qputenv("FAKE_NM_DIR", state().toUtf8());
    }
    ~FakeNetworkManager()
    {
        qputenv("PATH", savedPath_);
        qputenv("FAKE_NM_DIR", savedState_);
    }
    FakeNetworkManager(const FakeNetworkManager&) = delete;
    FakeNetworkManager& operator=(const FakeNetworkManager&) = delete;

    QString bin() const { return dir_.filePath(QStringLiteral("bin")); }
    QString state() const { return dir_.filePath(QStringLiteral("state")); }
    QString path(const QString& name) const { return state() + QLatin1Char('/') + name; }

    void set(const QString& name, const QString& content) const
    {
        QFile file(path(name));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content.toUtf8());
    }
    QString get(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    bool has(const QString& name) const { return QFile::exists(path(name)); }
    QStringList calls() const { return get(QStringLiteral("calls")).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

private:
    void install(const QString& script, const QString& name) const
    {
        const QString target = bin() + QLatin1Char('/') + name;
        QFile::copy(QStringLiteral(HORAVO_LINE_TEST_DIR "/") + script, target);
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir dir_;
    QByteArray savedPath_;
    QByteArray savedState_;
};
