// Another process writing the same database, for the tests of several writers. PATH is
// a file's path or a server's connection string.
//   store_test_writer PATH NAME COUNT
//     Adds COUNT to the price of the knumber row "counter", one at a time, each as read,
//     change, update, starting over when another writer got in between; and appends COUNT
//     internet rows for NAME. Exit code 0 when all went through, 1 otherwise.
//   store_test_writer PATH NAME --then-wait | --then-exit
//     Appends one internet row for NAME, keeps its record set open, prints "written" and
//     then waits for its end (to be killed) or ends at once with _exit(0).
//   store_test_writer PATH NAME --register
//     Registers NAME in users as self-registration does: the test for the name and the
//     insert in one write transaction. Exit code 0 added, 3 the name was taken.
//   store_test_writer PATH NAME --add-user
//     Appends NAME to users; exit code 1 and the message on standard error when refused.
#include <cstdio>
#include <thread>

#include <unistd.h>

#include <QCoreApplication>
#include <QStringList>

#include "store/Esql.h"
#include "store/SqlText.h"
#include "store/StoreError.h"

namespace {

void addCounterAndUsage(const store::DatabaseAddress& path, const QString& name, int count)
{
    for (int i = 0; i < count; ++i) {
        for (;;) {
            auto counter = store::Esql(QStringLiteral("select * from knumber where kuser='counter'"), path);
            counter->setValue(QStringLiteral("price"), counter->value(QStringLiteral("price")).toDouble() + 1);
            try {
                counter->update();
                break;
            } catch (const store::ConflictError&) {
            }
        }
        auto usage = store::Esql(QStringLiteral("select * from internet where 1=0"), path);
        usage->addNew();
        usage->setValue(QStringLiteral("iuser"), name);
        usage->setValue(QStringLiteral("itime"), i);
        usage->update();
    }
}

std::unique_ptr<store::RecordSet> addUsageRow(const store::DatabaseAddress& path, const QString& name)
{
    auto usage = store::Esql(QStringLiteral("select * from internet where 1=0"), path);
    usage->addNew();
    usage->setValue(QStringLiteral("iuser"), name);
    usage->setValue(QStringLiteral("itime"), 1);
    usage->update();
    return usage;
}

bool registerUser(const store::DatabaseAddress& path, const QString& name)
{
    bool taken = false;
    store::inOneTransaction(path, [&](const store::Transaction& transaction) {
        const auto same = transaction.esql(QStringLiteral("select * from users where iuser='")
                                           + store::escapeQuotes(name) + QStringLiteral("'"));
        taken = !same->atEnd();
        if (taken)
            return;
        auto users = transaction.esql(QStringLiteral("select * from users"));
        users->addNew();
        users->setValue(QStringLiteral("iuser"), name);
        users->setValue(QStringLiteral("quanxian"), 3);
        users->update();
    });
    return !taken;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const store::DatabaseAddress path = store::DatabaseAddress::parse(args[1]);
    const QString name = args[2];
    const QString what = args[3];
    try {
        if (what == QStringLiteral("--then-wait") || what == QStringLiteral("--then-exit")) {
            const auto open = addUsageRow(path, name);
            std::printf("written\n");
            std::fflush(stdout);
            if (what == QStringLiteral("--then-exit"))
                _exit(0);
            for (;;)
                std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        if (what == QStringLiteral("--register"))
            return registerUser(path, name) ? 0 : 3;
        if (what == QStringLiteral("--add-user")) {
            auto users = store::Esql(QStringLiteral("select * from users"), path);
            users->addNew();
            users->setValue(QStringLiteral("iuser"), name);
            users->update();
            return 0;
        }
        addCounterAndUsage(path, name, what.toInt());
    } catch (const store::StoreError& error) {
        std::fprintf(stderr, "%s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
