#include "main_program/dialer/CommandRunner.h"

#include <QRegularExpression>

namespace tallyon {

bool isRunnerFailure(const QString& output)
{
    static const QRegularExpression pipeFailed(
        QStringLiteral("^CreatePipe   failed\\.   Error:   -?[0-9]+\\.$"));
    return output == commandNotFoundText() || pipeFailed.match(output).hasMatch();
}

} // namespace tallyon
