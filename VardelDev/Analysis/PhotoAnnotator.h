#pragma once

#include "Frame.h"
#include "PersonBox.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>

#include <optional>
#include <string>
#include <vector>

namespace vardel::PhotoAnnotator {

// Draws alert photos: people in an amber-framed "spotlight" on a dimmed picture, and a time stamp in an
// amber capsule at the bottom right. Stateless pure functions; safe on any thread (the analyzer calls
// them on "vardel.photo", the recorder renders stamp overlays on "vardel.clip"). Sizes scale with
// s = max(width, height) / 1920. Pixel coordinates here have their origin at the top left.

// Boxes merged so that overlapping people share one spotlight: a box that strictly overlaps an earlier
// result replaces it by their union (higher confidence, no longer a face). Touching edges do not merge.
std::vector<PersonBox> regions(const std::vector<PersonBox>& people);

// The padded pixel rectangle of one region in a width x height image (8 % of the box width on each
// side, 5 % of its height above and below), clamped to the image.
QRectF spotlightRect(const PersonBox& box, double width, double height);

// The frame's picture as an RGB image (one 4:2:0 conversion); a null image for an empty frame.
QImage image(const Frame& frame);

// The annotated copy of `picture`: dimmed outside the spotlights of `people` (none: no dimming) and the
// stamp capsule when `stamp` is not empty. Empty only when no image can be drawn (null input).
std::optional<QImage> annotate(
    const QImage& picture, const std::vector<PersonBox>& people, const std::string& stamp);

// A fully transparent width x height image holding only the stamp capsule (premultiplied ARGB).
// Empty when the size is not positive or the image cannot be allocated.
std::optional<QImage> stampOverlay(const std::string& text, int width, int height);

// JPEG bytes at `quality` (0...1); empty when encoding fails.
std::optional<QByteArray> jpeg(const QImage& picture, double quality);

} // namespace vardel::PhotoAnnotator
