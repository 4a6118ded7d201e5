// Another process writing the same database file, for the tests of several writers.
//   store_test_writer PATH NAME COUNT
// Adds COUNT to the price of the knumber row "counter", one at a time, each as read,
// change, update, starting over when another writer got in between; and appends COUNT
// internet rows for NAME. Exit code 0 when all went through, 1 otherwise.
#include <cstdio>

#include <QCoreApplication>
#include <QStringList>

#include "store/Esql.h"
#include "store/StoreError.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const QString path = args[1];
    const QString name = args[2];
    const int count = args[3].toInt();
    try {
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
    } catch (const store::StoreError& error) {
        std::fprintf(stderr, "%s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
