#pragma once

#include <memory>

#include "platform/widgets/Form.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class DataGrid;
class LinkLabel;
}
namespace store {
class RecordSet;
}

namespace tallyon {

struct Services;

// The personal usage history: the current user's usage rows in a read-only grid, the
// total of their minutes and what they cost at the current unit price.
class form2 final : public platform::Form {
    Q_OBJECT
public:
    explicit form2(Services& services, QWidget* parent = nullptr);
    ~form2() override;

    platform::DataGrid* DataGrid1;
    QLabel* Label1;
    QLineEdit* Text1;
    QLabel* Label3;
    QLabel* Label4;
    QLineEdit* Text2;
    QLabel* Label2;
    QPushButton* Command1;
    QLabel* Label5;
    platform::LinkLabel* Label6;
    platform::LinkLabel* Label7;

protected:
    void Form_Load() override;

private:
    void Command1_Click();
    void Label6_Click();
    void Label7_Click();
    // gprice, or, while nothing has set it, the price of the account a dial would use.
    float priceForTheAmount() const;

    Services& services_;
    std::unique_ptr<store::RecordSet> records_;
};

} // namespace tallyon
