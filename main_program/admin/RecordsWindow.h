#pragma once

#include <memory>

#include "platform/widgets/Form.h"

class QComboBox;
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

// The usage records query: one user's usage rows, or everybody's, with the total of
// their minutes and what they cost; a row is deleted with the Delete key, and "一键清除"
// deletes every row shown.
class Form5 final : public platform::Form {
    Q_OBJECT
public:
    explicit Form5(Services& services, QWidget* parent = nullptr);
    ~Form5() override;

    QLabel* Label2;
    QLabel* Label1;
    QComboBox* Combo1;
    QLabel* Label4;
    QPushButton* Command2;
    QLabel* Label6;
    platform::DataGrid* DataGrid1;
    QLabel* Label8;
    QLineEdit* Text1;
    QLabel* Label9;
    QLineEdit* Text2;
    QLabel* Label10;
    QPushButton* Command1;
    QLabel* Label5;
    QLabel* Label7;
    platform::LinkLabel* Label3;

    // The entry of the picker that shows every user's rows.
    static QString allRecordsEntry();

protected:
    void Form_Load() override;

private:
    void Combo1_Click();
    void CChange();
    void Command1_Click();
    void Command2_Click();
    void Label3_Click();

    Services& services_;
    std::unique_ptr<store::RecordSet> users_;
    std::unique_ptr<store::RecordSet> records_;
};

} // namespace tallyon
