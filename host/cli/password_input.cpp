#include "host/cli/password_input.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace bw::host {

namespace {

// One line from fd, without its line end; false at the end of input before any character.
bool readLine(int fd, std::string& line) {
    line.clear();
    char c = 0;
    bool any = false;
    while (true) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            return any;
        any = true;
        if (c == '\n')
            return true;
        if (line.size() < 4096)
            line.push_back(c);
    }
}

// Asks on the terminal with its echo off, restored afterwards whatever happens.
bool askOnTerminal(int tty, const QString& prompt, std::string& answer) {
    const QByteArray text = prompt.toLocal8Bit();
    if (::write(tty, text.constData(), size_t(text.size())) < 0)
        return false;
    termios saved{};
    const bool hasTermios = ::tcgetattr(tty, &saved) == 0;
    if (hasTermios) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    const bool ok = readLine(tty, answer);
    if (hasTermios)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    return ok;
}

} // namespace

std::optional<QString> readPassword(bool fromStdin, const QString& prompt, bool confirm,
                                    QString& error) {
    std::string first;
    if (fromStdin) {
        if (!readLine(STDIN_FILENO, first)) {
            error = QStringLiteral("no password on standard input");
            return std::nullopt;
        }
        if (!first.empty() && first.back() == '\r')
            first.pop_back();
    } else {
        const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (tty < 0) {
            error = QStringLiteral("no terminal to ask for the password on: give it on standard "
                                   "input with --password-stdin");
            return std::nullopt;
        }
        std::string second;
        const bool ok = askOnTerminal(tty, prompt + QStringLiteral(": "), first) &&
                        (!confirm || askOnTerminal(tty, QStringLiteral("again: "), second));
        ::close(tty);
        if (!ok) {
            error = QStringLiteral("no password typed");
            return std::nullopt;
        }
        if (confirm && first != second) {
            error = QStringLiteral("the two passwords differ");
            return std::nullopt;
        }
    }
    if (first.empty()) {
        error = QStringLiteral("an empty password is none");
        return std::nullopt;
    }
    return QString::fromUtf8(first.data(), qsizetype(first.size()));
}

} // namespace bw::host
