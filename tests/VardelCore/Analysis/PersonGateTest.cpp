#include "PersonGate.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;
using Outcome = PersonGate::Outcome;

namespace {

constexpr ROI kRightHalf { 0.5, 0, 0.5, 1 };
const double kConfident = PersonGate().minConfidence;

void expectBox(const PersonBox& a, const PersonBox& e)
{
    for (auto [actual, expected] : { std::pair(a.x, e.x), { a.y, e.y }, { a.w, e.w }, { a.h, e.h } })
        EXPECT_NEAR(actual, expected, 1e-9);
    EXPECT_EQ(std::pair(a.confidence, a.isFace), std::pair(e.confidence, e.isFace));
}

} // namespace

TEST(PersonGate, MatchesConfidentBoxesInTheAreaAsksEveryIntervalAndCountsLastingChange)
{
    const std::tuple<const char*, PersonBox, bool> rows[] = {
        { "centreInside", { 0.6, 0.3, 0.2, 0.2, kConfident, false }, true },
        { "confidenceJustBelow", { 0.6, 0.3, 0.2, 0.2, std::nextafter(kConfident, 0.0), false }, false },
        { "confidenceNaN", { 0.6, 0.3, 0.2, 0.2, std::nan(""), false }, false },
        { "centreOnTheBorder", { 0.4, 0.3, 0.2, 0.2, 0.9, false }, true },
        // Centre outside at x 0.4; 0.1 of the 0.4 width lies inside, then 0.06.
        { "quarterInside", { 0.2, 0.4, 0.4, 0.2, 0.9, false }, true },
        { "fifteenPercentInside", { 0.16, 0.4, 0.4, 0.2, 0.9, false }, false },
        { "zeroWidthCentreOutside", { 0.45, 0.4, 0.0, 0.2, 0.9, false }, false },
        { "zeroWidthCentreInside", { 0.7, 0.4, 0.0, 0.2, 0.9, false }, true },
        { "notANumber", { std::nan(""), 0.3, 0.2, 0.2, 0.9, false }, false },
    };
    PersonGate gate;
    for (const auto& [name, box, matches] : rows)
        EXPECT_EQ(gate.matches(box, kRightHalf), matches) << name;

    // The detector is asked at once after opening, then at most every interval.
    int calls = 0;
    std::vector<PersonBox> boxes;
    const auto step
        = [&](double now) { return gate.step(now, 0, 0.05, kRightHalf, [&] { return ++calls, boxes; }); };
    EXPECT_EQ(step(1000), Outcome::discarded()); // closed: nothing happens
    EXPECT_EQ(calls, 0);

    gate.checkInterval = 100; // even a long interval does not delay the first check
    gate.open(1000);
    EXPECT_EQ(step(1000.05), Outcome::pending());
    EXPECT_EQ(step(1000.15), Outcome::pending());
    EXPECT_EQ(calls, 1);

    gate.checkInterval = 0.25;
    gate.open(1001);
    step(1001);
    step(1001.125);
    EXPECT_EQ(calls, 2);
    boxes = { { 0.1, 0.1, 0.05, 0.05, 0.8, true }, { 0.6, 0.3, 0.2, 0.2, 0.9, false } };
    EXPECT_EQ(step(1001.25), Outcome::confirmed(EventKind::person));
    EXPECT_EQ(gate.lastMatch, std::vector<PersonBox> { boxes[1] });
    EXPECT_FALSE(gate.isOpen());

    // Without a person, nine frames over the two-second window; 70 % of them must show lasting change,
    // each candidate counting only its own.
    const std::pair<int, Outcome> candidates[] = { { 6, Outcome::discarded() }, { 1, Outcome::discarded() },
        { 7, Outcome::confirmed(EventKind::unconfirmedMotion) } };
    gate = PersonGate();
    double t = 0;
    for (const auto& [lasting, expected] : candidates) {
        gate.open(t);
        Outcome outcome;
        for (int frame = 0; frame < 9; ++frame)
            outcome = gate.step(t + frame * 0.25, frame < lasting ? 0.1 : 0.0, 0.05, kRightHalf, nullptr);
        EXPECT_EQ(outcome, expected) << lasting;
        t += 10;
    }
}

// A face stands for head and shoulders, clamped to the picture; faces inside a body are not drawn twice.
TEST(PersonBox, FacesOutsideABodyAreDrawnAsHeadAndShoulders)
{
    expectBox(PersonBox::headAndShoulders({ 0.45, 0.0, 0.1, 0.1, 0.8, true }),
        { 0.37, 0.0, 0.26, 0.27, 0.8, true });
    expectBox(PersonBox::headAndShoulders({ 0.9, 0.8, 0.1, 0.1, 0.7, true }),
        { 0.82, 0.75, 0.18, 0.25, 0.7, true });
    const PersonBox body { 0.1, 0.1, 0.3, 0.5, 0.9, false };
    const PersonBox faceInBody { 0.2, 0.15, 0.1, 0.1, 0.95, true };
    const PersonBox faceOnBorder { 0.35, 0.25, 0.1, 0.1, 0.9, true }; // centre on the body's right border
    const PersonBox faceAlone { 0.7, 0.2, 0.1, 0.1, 0.85, true };
    const PersonBox secondBody { 0.5, 0.5, 0.2, 0.4, 0.6, false };
    EXPECT_EQ(PersonBox::forDrawing({ faceInBody, body, faceOnBorder, faceAlone, secondBody }),
        (std::vector<PersonBox> { body, secondBody, PersonBox::headAndShoulders(faceAlone) }));
    EXPECT_EQ(PersonBox::merge({}, { faceAlone, faceInBody }),
        (std::vector<PersonBox> {
            PersonBox::headAndShoulders(faceAlone), PersonBox::headAndShoulders(faceInBody) }));
    EXPECT_TRUE(PersonBox::forDrawing({}).empty());
}
