#pragma once

#include <QFont>

class QLineEdit;

namespace platform {

// 楷体_GB2312 (KaiTi) and 宋体 (a Song face), as installed on a Linux desktop.
QFont kaiTi(double points, bool bold = false);
QFont song(double points);

// A password box that shows "*" for every character.
void makePasswordBox(QLineEdit& box);

// Installs the CJK fonts as the application's default family substitutions.
void installFontSubstitutions();

} // namespace platform
