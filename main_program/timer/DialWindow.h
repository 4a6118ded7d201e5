#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tallyon {

// While a dial runs, a small window of the program's own shows the entry being dialed,
// rasdial's progress lines as they arrive and the seconds elapsed, so that a dial of up
// to a minute does not leave the screen empty. It appears only once the dial has taken
// more than a second. Its "取消" button (also Esc, or closing the window) asks for the
// dial to stop: a rasdial that hangs would otherwise hold the program for good.
class DialWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DialWindow(const QString& entry, QWidget* parent = nullptr);

    void addLine(const QString& line);
    QStringList lines() const;
    QString elapsedText() const;
    bool cancelled() const { return cancelled_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void update();
    void cancel();

    QLabel* entry_ = nullptr;
    QPlainTextEdit* progress_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QElapsedTimer clock_;
    QTimer ticker_;
    bool cancelled_ = false;
};

} // namespace tallyon
