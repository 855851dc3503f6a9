#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vardel {

class AppRunner;
class OnboardingModel;
class TerminalInput;

// `brisko setup`: the first-run flow in a terminal, through the same OnboardingModel as the window:
// language, camera (by number), watched area ("x y w h" fractions or "whole"), person or motion, the
// BotFather steps, the token read without echo, pairing with a link and a QR code drawn in the terminal,
// the test alert. Questions and results go to standard output, one line each, in the chosen language;
// Enter keeps what is set. Ends at the end of input or on SIGINT/SIGTERM too, through the ordered quit.
// Main thread; the runner's model must be open.
class TerminalSetup {
public:
    explicit TerminalSetup(AppRunner& runner);
    // 0 when the flow reached its end, 1 when it was left before.
    int run();

private:
    void language();
    void camera();
    void area();
    void alerts();
    void telegram();
    void pair();
    void test();
    void done();

    // Prints the numbered choices and returns the index picked; Enter picks `current` when there is one.
    std::size_t choose(const std::vector<std::string>& options, int current = -1);
    // The answer; a secret is read without echo, and a pasted message of several lines is one answer.
    std::string ask(const std::string& prompt, bool pastedSecret = false);
    void wait(const std::function<bool()>& until);

    AppRunner& m_runner;
    OnboardingModel* m_flow = nullptr;
    TerminalInput* m_input = nullptr;
};

} // namespace vardel
