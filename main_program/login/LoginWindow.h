#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/widgets/Form.h"
#include "platform/widgets/LinkLabel.h"

namespace tallyon {

struct Services;

// Form1, Tallyon's start-up window: checks a name and password against users and opens
// what the user's permission code allows.
class Form1 final : public platform::Form {
    Q_OBJECT
public:
    explicit Form1(Services& services, QWidget* parent = nullptr);

    bool loginyz(const QString& name, const QString& password);
    qint16 permission() const { return permission_; }

    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* Text1;
    QLabel* Label3;
    QLineEdit* Text2;
    QPushButton* Command3;
    QPushButton* Command1;
    QPushButton* Command2;
    platform::LinkLabel* Label4;
    QPushButton* Command4;

protected:
    void Form_Load() override;

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Label4_Click();

    // The boxes' name and password pass the credential test (guser is then set);
    // otherwise the user has been told why.
    bool credentialsAccepted(const QString& refusal);
    void usageReminder();

    Services& services_;
    qint16 permission_ = 0;
};

} // namespace tallyon
