#pragma once

#include <functional>

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace platform {

class Forms;
class MessageBoxes;

// A window with the life cycle of the desktop it was written for: loaded (its load
// handler runs, the window stays hidden), shown modeless (loaded first when needed),
// hidden, and unloaded (its unload handler may refuse). An unloaded window is gone: the
// next one shown under its name is a new one. Closing it from the title bar asks for
// an unload.
class Form : public QWidget {
    Q_OBJECT
public:
    Form(Forms& forms, MessageBoxes& boxes, QWidget* parent = nullptr);
    ~Form() override;

    bool loaded() const { return loaded_; }
    void load();          // runs Form_Load once
    void loadAgain();     // loaded once more while loaded: runs Form_LoadAgain
    void showModeless();  // loads first when needed, then shows and raises
    bool unload();        // false when the unload handler refused

protected:
    virtual void Form_Load() {}
    // A window loaded again while it is loaded does nothing, unless it says otherwise.
    virtual void Form_LoadAgain() {}
    // Return false to refuse the unload (the window stays loaded).
    virtual bool Form_QueryUnload() { return true; }

    // Connects a control's signal to one of this window's handlers through runEvent():
    // every handler of every window meets the error path the same way.
    template <typename Sender, typename Signal, typename Window>
    void onEvent(Sender* sender, Signal signal, void (Window::*handler)())
    {
        connect(sender, signal, this, [this, handler] {
            runEvent([this, handler] { (static_cast<Window*>(this)->*handler)(); });
        });
    }

    // Runs one event of this window (load, unload request, a control's handler). A
    // window that must hold something around each of its events (the timer window's
    // tick gate) overrides it and calls handle() inside.
    virtual void runEvent(const std::function<void()>& handler) { handle(handler); }

    // The error path: a failure that the user must see becomes one message box with its
    // text; the program ending at once passes through silently.
    void handle(const std::function<void()>& handler);

    // Enter clicks the default button unless another button has the focus (then that
    // one); Esc clicks the cancel button.
    void setDefaultButton(QPushButton* button);
    void setCancelButton(QPushButton* button);

    MessageBoxes& boxes() { return boxes_; }
    Forms& forms() { return forms_; }

    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Forms& forms_;
    MessageBoxes& boxes_;
    bool loaded_ = false;
    bool unloading_ = false;
    QPointer<QPushButton> defaultButton_;
    QPointer<QPushButton> cancelButton_;
};

} // namespace platform
