#pragma once

#include <QString>
#include <QStringList>

#include "platform/widgets/Form.h"
#include "platform/widgets/Forms.h"

namespace doubles {

// Stands in for a window that a test does not drive: records that it was loaded, and
// whether it was shown, in a log shared by the test.
class StandInForm final : public platform::Form {
public:
    StandInForm(platform::Forms& forms, platform::MessageBoxes& boxes, QString name, QStringList& log)
        : Form(forms, boxes), name_(std::move(name)), log_(log)
    {
        setWindowTitle(name_);
    }

protected:
    void Form_Load() override { log_ << QStringLiteral("load ") + name_; }
    void showEvent(QShowEvent*) override { log_ << QStringLiteral("show ") + name_; }

private:
    QString name_;
    QStringList& log_;
};

// Defines a stand-in under each name.
inline void defineStandIns(platform::Forms& forms, platform::MessageBoxes& boxes,
                           const QStringList& names, QStringList& log)
{
    for (const auto& name : names)
        forms.define(name, [&forms, &boxes, name, &log] { return new StandInForm(forms, boxes, name, log); });
}

} // namespace doubles
