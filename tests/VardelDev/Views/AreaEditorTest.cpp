#include "AreaEditor.h"
#include "L.h"
#include "ViewHarness.h"

#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    // GIVEN the editor over a 640x360 picture (16:9, so the picture fills it) WHEN the user drags, saves,
    // cancels or picks the whole view THEN the model stores what the drag rules say.
    TEST(AreaEditing, DragSaveCancelAndWholeView)
    {
        L::setLanguage(AppLanguage::en);
        ViewModel view;
        AreaEditor editor { view.model };
        editor.resize(640, 360);
        editor.show();
        ASSERT_EQ(editor.videoRect(), (FrameGeometry::Rect { 0, 0, 640, 360 }));
        auto drag = [&](QPoint from, QPoint to) {
            mouse(&editor, QEvent::MouseButtonPress, from);
            // In steps, as a hand would: the first step decides between moving and drawing.
            mouse(&editor, QEvent::MouseMove, from + (to - from) / 4);
            mouse(&editor, QEvent::MouseMove, to);
            mouse(&editor, QEvent::MouseButtonRelease, to);
        };
        auto expectNear = [](const ROI& actual, const ROI& expected) {
            for (double ROI::*side : { &ROI::x, &ROI::y, &ROI::w, &ROI::h })
                EXPECT_NEAR(actual.*side, expected.*side, 1e-9);
        };

        view.model.setEditingArea(true);
        drag({ 100, 100 }, { 110, 104 });
        editor.save();
        EXPECT_EQ(view.model.roi(), ROI::full());
        EXPECT_TRUE(view.model.editingArea());
        EXPECT_EQ(view.model.notice(), L::t(K::ntAreaInvalid));
        drag({ 320, 216 }, { 64, 36 });
        editor.save();
        expectNear(view.model.roi(), { 0.1, 0.1, 0.4, 0.5 });
        EXPECT_FALSE(view.model.editingArea());

        view.model.setEditingArea(true);
        drag({ 0, 0 }, { 600, 300 }); // outside the area: draws
        editor.cancel();
        EXPECT_FALSE(editor.drag().draft());
        expectNear(view.model.roi(), { 0.1, 0.1, 0.4, 0.5 });

        view.model.setEditingArea(true);
        drag({ 200, 100 }, { 202, 101 }); // a click's wobble is no drag
        EXPECT_FALSE(editor.drag().draft());
        drag({ 200, 100 }, { 2000, -500 });
        ASSERT_TRUE(editor.drag().draft());
        expectNear(*editor.drag().draft(), { 0.6, 0, 0.4, 0.5 });
        editor.save();
        expectNear(view.model.roi(), { 0.6, 0, 0.4, 0.5 });

        view.model.setEditingArea(true);
        editor.saveWholeImage();
        EXPECT_EQ(view.model.roi(), ROI::full());
        EXPECT_FALSE(view.model.editingArea());
    }

} // namespace
} // namespace vardel::test
