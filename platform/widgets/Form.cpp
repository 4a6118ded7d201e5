#include "platform/widgets/Form.h"

#include <exception>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

#include "platform/MessageBoxes.h"
#include "platform/Program.h"
#include "platform/widgets/Forms.h"
#include "rules/Failure.h"

namespace platform {

Form::Form(Forms& forms, MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent), forms_(forms), boxes_(boxes)
{
}

Form::~Form()
{
    if (loaded_)
        forms_.unloadedNow(this);
}

void Form::load()
{
    if (loaded_)
        return;
    loaded_ = true;
    forms_.loadedNow(this);
    runEvent([this] { Form_Load(); });
}

void Form::loadAgain()
{
    if (loaded_)
        runEvent([this] { Form_LoadAgain(); });
}

void Form::showModeless()
{
    load();
    if (!loaded_ || forms_.ended())
        return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

bool Form::unload()
{
    if (!loaded_ || unloading_)
        return true;
    bool accepted = true;
    runEvent([&] { accepted = Form_QueryUnload(); });
    if (!accepted)
        return false;
    unloading_ = true;
    loaded_ = false;
    hide();
    deleteLater();
    forms_.unloadedNow(this);
    return true;
}

void Form::handle(const std::function<void()>& handler)
{
    if (forms_.ended())
        return;
    try {
        handler();
    } catch (const ProgramEnded&) {
        // The program ended at once inside the handler; nothing more runs.
        forms_.endedAtOnce();
    } catch (const horavo::Failure& failure) {
        boxes_.show(failure.message());
    } catch (const std::exception& error) {
        // Anything else (memory exhausted, a library's own error) is still shown rather
        // than ending the program: its text is all there is to say.
        boxes_.show(QString::fromUtf8(error.what()));
    }
}

void Form::setDefaultButton(QPushButton* button)
{
    defaultButton_ = button;
    button->setDefault(true);
}

void Form::setCancelButton(QPushButton* button)
{
    cancelButton_ = button;
}

void Form::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* target = focused ? focused : defaultButton_.data();
        if (target && target->isEnabled()) {
            target->click();
            return;
        }
    }
    if (event->key() == Qt::Key_Escape && cancelButton_ && cancelButton_->isEnabled()) {
        cancelButton_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (!loaded_ || unloading_)
        return;
    unload();
}

} // namespace platform
