#pragma once

#include <QObject>

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

    // The next line, or none at the end of input or when the event loop was told to quit.
    // `hidden` turns the terminal's echo off while reading (for secrets), when input is a terminal.
    std::optional<std::string> readLine(bool hidden = false);
    // The next line and every line that follows it without a pause of `quietMs`, joined with "\n": a
    // pasted message of several lines is one answer, not answers to the questions after it.
    std::optional<std::string> readPasted(bool hidden = false, int quietMs = 300);

    // Runs the event loop until `done` holds (looked at every 50 ms); false when the loop was told to
    // quit first.
    static bool waitUntil(const std::function<bool()>& done);

private:
    // Reads into the buffer until `enough` holds or `quietMs` pass without input (never, when negative);
    // false at the end of input or when the event loop was told to quit.
    bool fill(const std::function<bool()>& enough, int quietMs);
    std::optional<std::string> takeLine();

    int m_fd;
    std::string m_buffer;
    bool m_ended = false;
};

} // namespace vardel
