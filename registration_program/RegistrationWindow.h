#pragma once

#include <array>
#include <memory>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/widgets/Form.h"

namespace platform {
class Program;
}
namespace store {
class RecordSet;
class Transaction;
}

namespace signova {

// Form1 of Signova: a new user picks a name and types a password twice; the row is
// added to users with permission code 3.
class Form1 final : public platform::Form {
    Q_OBJECT
public:
    Form1(platform::Forms& forms, platform::MessageBoxes& boxes, platform::Program& program,
          QWidget* parent = nullptr);
    ~Form1() override;

    // Both run inside one write transaction, so that no other writer can register the
    // same name between the test and the insert.
    bool yzuser(const store::Transaction& transaction, const QString& yzuser1);
    void inputsj(const store::Transaction& transaction, const QString& zusername, const QString& zpassw);

    QLabel* Label2;
    std::array<QLabel*, 3> Label1;
    QLineEdit* Text1;
    QLineEdit* Text3;
    QLineEdit* Text2;
    QPushButton* Command1;
    QPushButton* Command2;

private:
    void Command1_Click();
    void Command2_Click();

    platform::Program& program_;
    std::unique_ptr<store::RecordSet> lastInsert_;
};

} // namespace signova
