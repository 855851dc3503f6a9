#pragma once

#include <QObject>

class QEventLoop;

#include <functional>
#include <optional>
#include <string>

namespace vardel {

// Line input from standard input while the Qt event loop keeps running (the model and its queues post to
// the main thread meanwhile): each read runs a nested event loop until a whole line arrived. Lines end at
// "\n"; a "\r" before it is dropped. Main thread.
class TerminalInput final : public QObject {
    Q_OBJECT
public:
    explicit TerminalInput(int fd = 0, QObject* parent = nullptr);
    ~TerminalInput() override;

    // The next line, or none at the end of input or once stopped.
    // `hidden` turns the terminal's echo off while reading (for secrets), when input is a terminal.
    std::optional<std::string> readLine(bool hidden = false);
    // The next line and every line that follows it without a pause of `quietMs`, joined with "\n": a
    // pasted message of several lines is one answer, not answers to the questions after it.
    std::optional<std::string> readPasted(bool hidden = false, int quietMs = 300);

    // Runs the event loop until `done` holds (looked at every 50 ms); false once `stop` was called.
    bool waitUntil(const std::function<bool()>& done);

    // Ends the read or wait in progress and every later one: the process is quitting. (The application's
    // own quit reaches only loops under its exec, and none runs while a question waits.)
    void stop();

private:
    // Reads into the buffer until `enough` holds or `quietMs` pass without input (never, when negative);
    // false at the end of input or once stopped.
    bool fill(const std::function<bool()>& enough, int quietMs);
    std::optional<std::string> takeLine();

    // Runs `loop` as the current one; true when it ended by its own condition.
    bool run(QEventLoop& loop);

    int m_fd;
    std::string m_buffer;
    bool m_ended = false;
    bool m_stopped = false;
    QEventLoop* m_loop = nullptr;
};

} // namespace vardel
