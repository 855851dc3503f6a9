#include "QrView.h"

#include <QImage>
#include <gtest/gtest.h>

namespace vardel::test {
namespace {

    // At whole and fractional scale factors, the symbol is pure black and white, its modules are squares of
    // whole pixels that match the code, and a light quiet zone of four modules surrounds it.
    TEST(QrView, DrawsEveryModuleCrispWithAQuietZone)
    {
        for (const auto [side, ratio] :
            { std::pair { 180, 1.0 }, { 180, 1.5 }, { 120, 1.5 }, { 150, 2.0 } }) {
            QrView view;
            view.setFixedSize(side, side);
            view.setText("https://t.me/brisko_test_bot?start=042917");
            ASSERT_TRUE(view.code());
            QImage shot(view.size() * ratio, QImage::Format_RGB32);
            shot.setDevicePixelRatio(ratio);
            shot.fill(Qt::red);
            view.render(&shot, {}, {}, QWidget::DrawChildren);

            QRect symbol;
            for (int y = 0; y < shot.height(); ++y) {
                for (int x = 0; x < shot.width(); ++x) {
                    const QRgb pixel = shot.pixel(x, y);
                    if (pixel != qRgb(255, 0, 0))
                        symbol |= QRect(x, y, 1, 1);
                    ASSERT_TRUE(
                        pixel == qRgb(255, 0, 0) || pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255))
                        << "smoothed pixel at scale " << ratio;
                }
            }
            const int modules = view.code()->size() + 2 * QrView::kQuietZone;
            ASSERT_EQ(symbol.width(), symbol.height());
            ASSERT_EQ(symbol.width() % modules, 0) << ratio;
            const int module = symbol.width() / modules;
            EXPECT_GE(symbol.width(), shot.width() * 3 / 4) << "the symbol should fill most of the view";
            for (int my = 0; my < modules; ++my) {
                for (int mx = 0; mx < modules; ++mx) {
                    const QPoint centre
                        = symbol.topLeft() + QPoint(mx * module + module / 2, my * module + module / 2);
                    const bool dark = view.code()->dark(mx - QrView::kQuietZone, my - QrView::kQuietZone);
                    ASSERT_EQ(shot.pixel(centre) == qRgb(0, 0, 0), dark)
                        << mx << "," << my << " at " << ratio;
                }
            }
        }
    }

} // namespace
} // namespace vardel::test
