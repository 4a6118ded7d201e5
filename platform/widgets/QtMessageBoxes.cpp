#include "platform/widgets/QtMessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace platform {

Answer QtMessageBoxes::present(const QString& prompt, const QString& title, Buttons buttons)
{
    QMessageBox box(QMessageBox::NoIcon, title, prompt, QMessageBox::NoButton, nullptr);
    QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (buttons == Buttons::OkCancel)
        cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    // Esc and the close box: Cancel on a question, OK on a plain message.
    box.setEscapeButton(cancel ? static_cast<QAbstractButton*>(cancel) : ok);
    box.exec();
    return box.clickedButton() == ok ? Answer::Ok : Answer::Cancel;
}

} // namespace platform
