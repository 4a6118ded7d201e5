#include "platform/widgets/Fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLineEdit>

namespace platform {

namespace {

const QStringList kaiTiFaces = {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW"),
                                QStringLiteral("AR PL KaitiM GB")};
const QStringList songFaces = {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                               QStringLiteral("WenQuanYi Zen Hei")};
const QStringList uiFaces = {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("AR PL UMing CN"),
                             QStringLiteral("Noto Sans CJK SC")};

QFont fontFrom(const QString& family, const QStringList& faces, double points)
{
    QFont font(family);
    font.setFamilies(QStringList{family} + faces);
    font.setPointSizeF(points);
    return font;
}

} // namespace

QFont kaiTi(double points, bool bold)
{
    QFont font = fontFrom(QStringLiteral("楷体_GB2312"), kaiTiFaces, points);
    font.setBold(bold);
    return font;
}

QFont song(double points)
{
    return fontFrom(QStringLiteral("宋体"), songFaces, points);
}

void makePasswordBox(QLineEdit& box)
{
    box.setEchoMode(QLineEdit::Password);
    box.setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("楷体_GB2312"), kaiTiFaces);
    QFont::insertSubstitutions(QStringLiteral("宋体"), songFaces);
    QFont base = QApplication::font();
    base.setFamilies(uiFaces);
    base.setPointSizeF(10.5);
    QApplication::setFont(base);
}

} // namespace platform
