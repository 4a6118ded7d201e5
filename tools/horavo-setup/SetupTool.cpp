#include "tools/horavo-setup/SetupTool.h"

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "rules/Permission.h"
#include "store/DatabaseFile.h"
#include "store/Esql.h"
#include "store/SeatRole.h"
#include "store/SqlText.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/DatabaseChoice.h"
#include "tools/horavo-setup/PasswordPrompt.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// The password of whose: one line of standard input (fromInput), the command line's, or
// typed twice on the terminal.
QString password(const std::optional<QString>& given, bool fromInput, const QString& whose, const char* inputOption)
{
    std::optional<QString> stated = given;
    if (fromInput) {
        stated = PasswordPrompt::readLine();
        if (!stated)
            refuse(PasswordProblem, QStringLiteral("标准输入里没有%1的密码（%2 要一行）").arg(whose, QString::fromLatin1(inputOption)));
    }
    if (stated) {
        if (stated->isEmpty())
            refuse(PasswordProblem, QStringLiteral("%1的密码不能是空的").arg(whose));
        return *stated;
    }
    if (!PasswordPrompt::available())
        refuse(PasswordProblem, QStringLiteral("没有给出%1的密码，标准输入又不是终端，无法询问：请用 %2 从标准输入给出密码")
                                    .arg(whose, QString::fromLatin1(inputOption)));
    const std::optional<QString> first = PasswordPrompt::ask(QStringLiteral("%1的密码：").arg(whose));
    if (!first)
        refuse(PasswordProblem, QStringLiteral("没有读到%1的密码").arg(whose));
    if (first->isEmpty())
        refuse(PasswordProblem, QStringLiteral("%1的密码不能是空的").arg(whose));
    const std::optional<QString> second = PasswordPrompt::ask(QStringLiteral("再输入一次%1的密码：").arg(whose));
    if (!second || *second != *first)
        refuse(PasswordProblem, QStringLiteral("两次输入的%1的密码不一样，什么也没有写入").arg(whose));
    return *first;
}

std::unique_ptr<store::RecordSet> usersNamed(const QString& name, const store::Transaction& transaction)
{
    return transaction.esql(QStringLiteral("select * from users where iuser=$1"), {name});
}

void refuseTakenName(const QString& name, store::RecordSet& same)
{
    refuse(UserExists, QStringLiteral("已有用户“%1”（权限 %2），没有写入：请换一个用户名")
                           .arg(name, same.value(QStringLiteral("quanxian")).toString()));
}

void addAdministrator(const store::Transaction& transaction, const QString& name, const QString& pw)
{
    auto users = transaction.esql(QStringLiteral("select * from users where 1=0"));
    users->addNew();
    users->setValue(QStringLiteral("iuser"), name);
    users->setValue(QStringLiteral("passw"), pw);
    users->setValue(QStringLiteral("quanxian"), horavo::codeOf(horavo::Permission::Administrator));
    users->update();
}

void addIspAccount(const store::Transaction& transaction, const QString& account, const QString& pw, double price)
{
    auto accounts = transaction.esql(QStringLiteral("select * from knumber where 1=0"));
    accounts->addNew();
    accounts->setValue(QStringLiteral("kuser"), account);
    accounts->setValue(QStringLiteral("kpassw"), pw);
    accounts->setValue(QStringLiteral("useyn"), true);
    accounts->setValue(QStringLiteral("price"), price);
    accounts->update();
}

// Whether the database is there: the file, or any of the tables on the server.
bool databaseExists(const store::DatabaseAddress& address)
{
    if (!address.isServer())
        return QFileInfo::exists(address.text()) || QFileInfo(address.text()).isSymLink();
    try {
        return !store::systemTablesOnServer(address).isEmpty();
    } catch (const store::StoreError&) {
        return false;
    }
}

void refuseExisting(const store::DatabaseAddress& address)
{
    if (!address.isServer()) {
        if (databaseExists(address))
            refuse(FileExists, QStringLiteral("数据库文件“%1”已经存在，没有改动它").arg(shownPath(address.text())));
        return;
    }
    QStringList tables;
    try {
        tables = store::systemTablesOnServer(address);
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, error.message());
    }
    if (!tables.isEmpty())
        refuse(FileExists, QStringLiteral("%1里已经有表 %2，没有改动它").arg(named(address), tables.join(QStringLiteral("、"))));
}

ExitCode create(const SetupRequest& r, const store::DatabaseAddress& address)
{
    // Refused before any password is asked for.
    refuseExisting(address);
    const QString adminPassword =
        password(r.password, r.passwordFromInput, QStringLiteral("管理员“%1”").arg(r.admin), "--password-stdin");
    QString ispPassword;
    if (r.ispAccount)
        ispPassword = password(r.ispPassword, r.ispPasswordFromInput, QStringLiteral("宽带帐号“%1”").arg(*r.ispAccount),
                               "--isp-password-stdin");
    const double price = r.price.value_or(0.3);

    try {
        store::createDatabase(address);
    } catch (const store::StoreError& error) {
        refuse(databaseExists(address) ? FileExists : DatabaseFailure, error.message());
    }
    try {
        store::inOneTransaction(address, [&](const store::Transaction& transaction) {
            addAdministrator(transaction, r.admin, adminPassword);
            if (r.ispAccount)
                addIspAccount(transaction, *r.ispAccount, ispPassword, price);
        });
    } catch (const store::StoreError& error) {
        removeMadeDatabase(address); // a database without its administrator would only be in the way
        refuse(DatabaseFailure, error.message());
    }

    const QString seatRole = r.seatRole.isEmpty() ? QString::fromLatin1(store::kDefaultSeatRole) : r.seatRole;
    if (address.isServer()) {
        try {
            store::prepareSeatRole(address, seatRole);
        } catch (const store::StoreError& error) {
            removeMadeDatabase(address);
            refuse(DatabaseFailure, error.message());
        }
    }
    QString done = address.isServer()
        ? QStringLiteral("已在%1中建立表 users、internet、knumber 和座位的角色“%3”，管理员“%2”（权限 1）")
              .arg(named(address), r.admin, seatRole)
        : QStringLiteral("已创建%1，管理员“%2”（权限 1）").arg(named(address), r.admin);
    if (r.ispAccount)
        done += QStringLiteral("，宽带帐号“%1”（使用中，单价 %2 元/小时）").arg(*r.ispAccount, QString::number(price, 'g', 15));
    say(stdout, done);
    return Done;
}

ExitCode addAdmin(const SetupRequest& r, const store::DatabaseAddress& address)
{
    requireDatabase(address, FileMissing, DatabaseFailure);
    // Refused before any password is asked for; asked again in the transaction that
    // adds the row, so that no other writer can add the name in between.
    try {
        auto same = store::Esql(QStringLiteral("select * from users where iuser=$1"), {r.admin}, address);
        if (same->rowCount() > 0)
            refuseTakenName(r.admin, *same);
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, error.message());
    }
    const QString adminPassword =
        password(r.password, r.passwordFromInput, QStringLiteral("管理员“%1”").arg(r.admin), "--password-stdin");
    try {
        store::inOneTransaction(address, [&](const store::Transaction& transaction) {
            const auto same = usersNamed(r.admin, transaction);
            if (same->rowCount() > 0)
                refuseTakenName(r.admin, *same);
            addAdministrator(transaction, r.admin, adminPassword);
        });
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, error.message());
    }
    say(stdout, QStringLiteral("已在%1中添加管理员“%2”（权限 1）").arg(named(address), r.admin));
    return Done;
}

} // namespace

ExitCode runSetup(const SetupRequest& request)
{
    try {
        // Help, version and copy read no settings: a broken settings file must not hide them.
        switch (request.command) {
        case SetupRequest::Command::Help:
            say(stdout, helpText());
            return Done;
        case SetupRequest::Command::Version:
            say(stdout, versionText());
            return Done;
        case SetupRequest::Command::Create:
            return create(request, chosenDatabase(request));
        case SetupRequest::Command::AddAdmin:
            return addAdmin(request, chosenDatabase(request));
        case SetupRequest::Command::Backup: {
            const store::DatabaseAddress address = chosenDatabase(request);
            requireFile(address, QStringLiteral("backup"),
                        QStringLiteral("服务器上的数据库请用服务器自己的 pg_dump 备份（例如 pg_dump -d 数据库名 -f 副本.sql）"));
            return backup(request, address.text());
        }
        case SetupRequest::Command::Report:
            return report(request, chosenDatabase(request));
        case SetupRequest::Command::Check:
            return check(chosenDatabase(request));
        case SetupRequest::Command::Online:
            return online(chosenDatabase(request));
        case SetupRequest::Command::Copy:
            return copy(addressOf(request.source), addressOf(request.target));
        }
    } catch (const Refusal& refusal) {
        return refusal.code;
    }
    return Done;
}

} // namespace setup
