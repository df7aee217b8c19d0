// Shared set-up of the widget kit's tests: the offscreen platform, a private
// home, DejaVu Sans as the application font (so text widths agree on every
// machine) and the kit's images from the test program's bundle.
#pragma once

#include "TempHome.h"
#include "TvUI.h"

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kittest {

// A sentinel the kit never paints.
inline constexpr QRgb kBackdrop = 0xFF123456;

inline QImage canvas(QSize size) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(kBackdrop);
    return image;
}

inline std::uint32_t rgbAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

// The bundle's language "ar" for the scope: right-to-left layout.
class RightToLeft {
public:
    RightToLeft() { ::setenv("LANGUAGE", "ar", 1); }
    ~RightToLeft() { ::setenv("LANGUAGE", "en", 1); }
    RightToLeft(const RightToLeft&) = delete;
    RightToLeft& operator=(const RightToLeft&) = delete;
};

inline int runKitTests(int argc, char** argv) {
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", std::string("offscreen"));
    home.env().set("LANGUAGE", std::string("en"));
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    return RUN_ALL_TESTS();
}

} // namespace kittest
