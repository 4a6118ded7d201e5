#include "platform/widgets/Forms.h"

#include <stdexcept>

#include <QApplication>

#include "platform/Program.h"
#include "platform/widgets/Form.h"

namespace platform {

Forms::Forms(Program& program) : program_(program) {}

Forms::~Forms()
{
    // Windows still open when the program object goes: they go with it, without
    // telling the program again.
    closing_ = true;
    const auto windows = std::move(windows_);
    for (const auto& [name, window] : windows) {
        if (window)
            delete window.data();
    }
}

void Forms::define(const QString& name, Factory factory)
{
    factories_[name] = std::move(factory);
}

void Forms::bringForward(const QString& preferred)
{
    QWidget* window = find(preferred);
    if (!window)
        window = QApplication::activeModalWidget();
    if (!window)
        window = QApplication::activeWindow();
    for (auto it = windows_.begin(); !window && it != windows_.end(); ++it) {
        if (it->second && it->second->isVisible())
            window = it->second;
    }
    if (!window)
        return;
    window->showNormal();
    window->raise();
    window->activateWindow();
}

Form* Forms::find(const QString& name) const
{
    const auto it = windows_.find(name);
    if (it == windows_.end() || !it->second || !it->second->loaded())
        return nullptr;
    return it->second.data();
}

Form& Forms::load(const QString& name)
{
    if (Form* existing = find(name)) {
        existing->loadAgain();
        return *existing;
    }
    return make(name);
}

Form& Forms::make(const QString& name)
{
    const auto factory = factories_.find(name);
    if (factory == factories_.end())
        throw std::logic_error("no window is defined under this name: " + name.toStdString());
    Form* form = factory->second();
    windows_[name] = form;
    form->load();
    return *form;
}

Form& Forms::show(const QString& name)
{
    Form* loaded = find(name);
    Form& form = loaded ? *loaded : make(name);
    form.showModeless();
    return form;
}

void Forms::unload(const QString& name)
{
    if (Form* form = find(name))
        form->unload();
}

int Forms::loadedCount() const
{
    return loadedCount_;
}

void Forms::loadedNow(Form*)
{
    ++loadedCount_;
}

void Forms::unloadedNow(Form* form)
{
    if (closing_)
        return;
    for (auto it = windows_.begin(); it != windows_.end(); ++it) {
        if (it->second == form) {
            windows_.erase(it);
            break;
        }
    }
    if (--loadedCount_ == 0)
        program_.lastWindowUnloaded();
}

} // namespace platform
