#pragma once

#include <memory>

#include "platform/widgets/Form.h"

class QLabel;
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

// The administration window: the users and the ISP accounts in two editable grids that
// write straight to their tables. Its load sets the program-wide unit price.
class Form4 final : public platform::Form {
    Q_OBJECT
public:
    explicit Form4(Services& services, QWidget* parent = nullptr);
    ~Form4() override;

    QLabel* Label1;
    platform::DataGrid* DataGrid1;
    QLabel* Label5;
    QLabel* Label2;
    platform::DataGrid* DataGrid2;
    QPushButton* Command2;
    QPushButton* Command1;
    QLabel* Label4;
    platform::LinkLabel* Label3;

protected:
    void Form_Load() override;

private:
    void Command1_Click();
    void Command2_Click();
    void Label3_Click();

    Services& services_;
    std::unique_ptr<store::RecordSet> users_;
    std::unique_ptr<store::RecordSet> accounts_;
};

} // namespace tallyon
