#include "main_program/timer/DialWindow.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "main_program/common/WindowNames.h"
#include "main_program/timer/ProgramIcon.h"

namespace tallyon {

namespace {

constexpr int kShowAfterMs = 1000;

} // namespace

DialWindow::DialWindow(const QString& entry, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(windows::applicationTitle);
    setWindowIcon(programIcon());
    setAttribute(Qt::WA_ShowWithoutActivating);

    entry_ = new QLabel(QStringLiteral("正在拨号：%1").arg(entry), this);
    progress_ = new QPlainTextEdit(this);
    progress_->setReadOnly(true);
    progress_->setMinimumSize(340, 90);
    progress_->setAccessibleName(QStringLiteral("拨号进度"));
    elapsed_ = new QLabel(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(entry_);
    layout->addWidget(progress_, 1);
    layout->addWidget(elapsed_);

    clock_.start();
    update();
    ticker_.setInterval(250);
    connect(&ticker_, &QTimer::timeout, this, &DialWindow::update);
    ticker_.start();
}

void DialWindow::addLine(const QString& line)
{
    progress_->appendPlainText(line);
}

QStringList DialWindow::lines() const
{
    return progress_->toPlainText().split(u'\n', Qt::SkipEmptyParts);
}

QString DialWindow::elapsedText() const
{
    return elapsed_->text();
}

void DialWindow::update()
{
    elapsed_->setText(QStringLiteral("已用 %1 秒").arg(clock_.elapsed() / 1000));
    if (!isVisible() && clock_.elapsed() >= kShowAfterMs)
        show();
}

} // namespace tallyon
