#pragma once

#include <vector>

namespace vardel {

// One detected upper body or face in normalized whole-frame coordinates (top-left origin, y down),
// the same coordinates as the watched area. Plain value; the helpers below are pure functions used
// by the person gate (matching) and by the photo annotator (what gets drawn).
struct PersonBox {
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;
    double confidence = 0; // 0...1
    bool isFace = false;

    bool operator==(const PersonBox&) const = default;

    double centerX() const { return x + w / 2; }
    double centerY() const { return y + h / 2; }

    // Matches an area (anything with x, y, w, h fields, such as the watched area) when the box's centre
    // lies inside it, borders included, or when at least `minFraction` of the box's surface lies inside.
    // A box of zero surface matches only by its centre. Confidence is not looked at here.
    template <typename Area> bool overlaps(const Area& roi, double minFraction) const
    {
        return overlapsArea(roi.x, roi.y, roi.w, roi.h, minFraction);
    }
    bool overlapsArea(double areaX, double areaY, double areaW, double areaH, double minFraction) const;

    // True when (px, py) lies inside the box, borders included.
    bool contains(double px, double py) const;

    // Head and shoulders below a face: 2.6 face widths wide, 3.2 face heights tall, starting half a face
    // height above it, clamped to the frame. Keeps the face's confidence and face flag.
    static PersonBox headAndShoulders(const PersonBox& face);

    // The boxes drawn on a photo: all bodies in order, then every face whose centre is not inside some
    // body, converted to its head and shoulders.
    static std::vector<PersonBox> merge(
        const std::vector<PersonBox>& bodies, const std::vector<PersonBox>& faces);
    // The same for a detector's mixed list (bodies and faces in any order; order kept within each kind).
    static std::vector<PersonBox> forDrawing(const std::vector<PersonBox>& people);
};

} // namespace vardel
