#include "main_program/timer/DialWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
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
    progress_->setTabChangesFocus(true);
    progress_->setMinimumSize(340, 90);
    progress_->setAccessibleName(QStringLiteral("拨号进度"));
    elapsed_ = new QLabel(this);
    cancel_ = new QPushButton(QStringLiteral("取消"), this);
    cancel_->setAccessibleName(QStringLiteral("取消拨号"));
    // Enter clicks it while it has the focus, as in the program's boxes. The window is
    // shown without taking the focus, so an Enter typed elsewhere never reaches it.
    cancel_->setAutoDefault(true);
    connect(cancel_, &QPushButton::clicked, this, &DialWindow::cancel);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(elapsed_, 1);
    bottom->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(entry_);
    layout->addWidget(progress_, 1);
    layout->addLayout(bottom);
    cancel_->setFocus();

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

void DialWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cancel_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void DialWindow::closeEvent(QCloseEvent* event)
{
    // The window goes when the dial has ended; closing it asks for that.
    cancel();
    event->ignore();
}

void DialWindow::cancel()
{
    cancelled_ = true;
    cancel_->setEnabled(false);
    elapsed_->setText(QStringLiteral("正在取消拨号…"));
}

void DialWindow::update()
{
    if (!cancelled_)
        elapsed_->setText(QStringLiteral("已用 %1 秒").arg(clock_.elapsed() / 1000));
    if (!isVisible() && clock_.elapsed() >= kShowAfterMs)
        show();
}

} // namespace tallyon
