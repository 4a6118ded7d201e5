#include "platform/widgets/Desktop.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QTranslator>

#include "platform/widgets/Fonts.h"
#include "platform/widgets/Form.h"
#include "platform/widgets/LinkLabel.h"
#include "platform/widgets/ReadOnlyBoxAccessible.h"

namespace platform {

namespace {

// A top-level window of the program is a window to a screen reader (a plain QWidget
// would be a "filler"); a link label is a link that can be pressed; a read-only box is
// text to read, not to edit.
class LinkAccessible final : public QAccessibleWidget {
public:
    explicit LinkAccessible(LinkLabel* label) : QAccessibleWidget(label, QAccessible::Link, QString()) {}
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            emit static_cast<LinkLabel*>(widget())->clicked();
    }
};

QAccessibleInterface* accessibleFor(const QString&, QObject* object)
{
    if (auto* link = qobject_cast<LinkLabel*>(object))
        return new LinkAccessible(link);
    if (auto* box = qobject_cast<QLineEdit*>(object); box && box->isReadOnly())
        return new ReadOnlyBoxAccessible(box);
    if (auto* form = qobject_cast<Form*>(object); form && form->isWindow())
        return new QAccessibleWidget(form, QAccessible::Window, QString());
    return nullptr;
}

} // namespace

void prepareDesktop()
{
    installFontSubstitutions();

    // Qt's own texts in Chinese, like the windows (qt6-translations-l10n).
    auto* qtTexts = new QTranslator(QCoreApplication::instance());
    if (qtTexts->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    else
        delete qtTexts;

    QAccessible::installFactory(accessibleFor);
}

} // namespace platform
