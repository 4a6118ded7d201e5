#pragma once

#include <functional>
#include <map>

#include <QPointer>
#include <QString>

namespace platform {

class Form;
class Program;

// The program's windows by name, each made by a factory when it is first loaded or
// shown; a window shown again after it was unloaded is a new one. When the last loaded
// window is unloaded, the program is told.
class Forms {
public:
    using Factory = std::function<Form*()>;

    explicit Forms(Program& program);
    ~Forms();

    void define(const QString& name, Factory factory);

    Form* find(const QString& name) const;   // the loaded window, or nullptr
    Form& load(const QString& name);         // makes and loads it; a loaded one is told it was loaded again
    Form& show(const QString& name);         // loads when needed, then shows it modeless
    void unload(const QString& name);        // when loaded
    int loadedCount() const;
    // Brings the loaded window of that name forward (restored when hidden or minimized),
    // or, with none loaded, the window the user works in: the active one or one shown.
    void bringForward(const QString& preferred);

    Program& program() { return program_; }

    // The program ended at once: no window runs another handler or shows itself. (The
    // real program is gone by then; this keeps test doubles of the ending faithful.)
    void endedAtOnce() { ended_ = true; }
    bool ended() const { return ended_; }

    // Called by Form
    void loadedNow(Form* form);
    void unloadedNow(Form* form);

private:
    Form& make(const QString& name);

    Program& program_;
    std::map<QString, Factory> factories_;
    std::map<QString, QPointer<Form>> windows_;
    int loadedCount_ = 0;
    bool closing_ = false;
    bool ended_ = false;
};

} // namespace platform
