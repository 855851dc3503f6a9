#include "PersonBox.h"

#include <algorithm>

namespace vardel {

bool PersonBox::contains(double px, double py) const
{
    return px >= x && px <= x + w && py >= y && py <= y + h;
}

bool PersonBox::overlapsArea(double areaX, double areaY, double areaW, double areaH, double minFraction) const
{
    const double cx = centerX();
    const double cy = centerY();
    if (cx >= areaX && cx <= areaX + areaW && cy >= areaY && cy <= areaY + areaH)
        return true;
    const double surface = w * h;
    // Written as "not greater than" so that a NaN size never counts as a surface.
    if (!(surface > 0))
        return false;
    const double overlapW = std::max(0.0, std::min(areaX + areaW, x + w) - std::max(x, areaX));
    const double overlapH = std::max(0.0, std::min(areaY + areaH, y + h) - std::max(y, areaY));
    return overlapW * overlapH / surface >= minFraction;
}

PersonBox PersonBox::headAndShoulders(const PersonBox& face)
{
    const double width = 2.6 * face.w;
    const double height = 3.2 * face.h;
    double left = face.x + face.w / 2 - width / 2;
    double top = face.y - face.h / 2;
    double right = left + width;
    double bottom = top + height;
    left = std::max(left, 0.0);
    top = std::max(top, 0.0);
    right = std::min(right, 1.0);
    bottom = std::min(bottom, 1.0);
    return { left, top, right - left, bottom - top, face.confidence, true };
}

std::vector<PersonBox> PersonBox::merge(
    const std::vector<PersonBox>& bodies, const std::vector<PersonBox>& faces)
{
    std::vector<PersonBox> result = bodies;
    for (const PersonBox& face : faces) {
        const bool insideBody = std::any_of(bodies.begin(), bodies.end(),
            [&](const PersonBox& body) { return body.contains(face.centerX(), face.centerY()); });
        if (!insideBody)
            result.push_back(headAndShoulders(face));
    }
    return result;
}

std::vector<PersonBox> PersonBox::forDrawing(const std::vector<PersonBox>& people)
{
    std::vector<PersonBox> bodies;
    std::vector<PersonBox> faces;
    for (const PersonBox& box : people)
        (box.isFace ? faces : bodies).push_back(box);
    return merge(bodies, faces);
}

} // namespace vardel
