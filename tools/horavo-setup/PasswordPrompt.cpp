#include "tools/horavo-setup/PasswordPrompt.h"

#include <csignal>
#include <cstdio>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace setup {

namespace {

struct termios savedTerminal;
volatile std::sig_atomic_t echoIsOff = 0;

// Ctrl-C while the password is typed must not leave the terminal without echo.
extern "C" void restoreAndDie(int signal)
{
    if (echoIsOff)
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class EchoOff {
public:
    EchoOff()
    {
        if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            return;
        struct termios quiet = savedTerminal;
        quiet.c_lflag &= tcflag_t(~ECHO);
        quiet.c_lflag |= ECHONL;
        std::signal(SIGINT, restoreAndDie);
        std::signal(SIGTERM, restoreAndDie);
        std::signal(SIGHUP, restoreAndDie);
        echoIsOff = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (echoIsOff)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoIsOff = 0;
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
};

} // namespace

bool PasswordPrompt::available()
{
    return isatty(STDIN_FILENO) == 1;
}

std::optional<QString> PasswordPrompt::ask(const QString& prompt)
{
    const QByteArray shown = prompt.toLocal8Bit();
    std::fwrite(shown.constData(), 1, std::size_t(shown.size()), stderr);
    std::fflush(stderr);
    return readLine();
}

std::optional<QString> PasswordPrompt::readLine()
{
    std::string line;
    bool ended = false;
    {
        EchoOff quiet; // changes nothing where standard input is no terminal
        // Read the descriptor itself: nothing is left in a stdio buffer after the line.
        for (;;) {
            char c = 0;
            const ssize_t n = read(STDIN_FILENO, &c, 1);
            if (n <= 0) {
                ended = true;
                break;
            }
            if (c == '\n')
                break;
            line.push_back(c);
        }
    }
    if (ended && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

} // namespace setup
