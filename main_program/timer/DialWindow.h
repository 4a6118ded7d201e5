#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace tallyon {

// While a dial runs, a small window of the program's own shows the entry being dialed,
// rasdial's progress lines as they arrive and the seconds elapsed, so that a dial of up
// to a minute does not leave the screen empty. It appears only once the dial has taken
// more than a second.
class DialWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DialWindow(const QString& entry, QWidget* parent = nullptr);

    void addLine(const QString& line);
    QStringList lines() const;
    QString elapsedText() const;

private:
    void update();

    QLabel* entry_ = nullptr;
    QPlainTextEdit* progress_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QElapsedTimer clock_;
    QTimer ticker_;
};

} // namespace tallyon
