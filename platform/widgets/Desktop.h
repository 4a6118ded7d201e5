#pragma once

namespace platform {

// Fits a program into the desktop before its first window: the CJK font faces, Qt's own
// texts (context menus, standard dialogs) in Chinese, and the roles that screen readers
// see for the program's windows and link labels.
void prepareDesktop();

} // namespace platform
