#include "KitTestSupport.h"
#include "TvAnimationImageView.h"

#include <QByteArray>
#include <QFile>

#include <cstdint>
#include <filesystem>

using kittest::rgbAt;

namespace {

void le16(QByteArray& out, int v) {
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
}

// A 4 x 4 GIF of solid frames (palette index per frame: 0 red, 1 blue),
// each shown for delayCs hundredths of a second.
QByteArray makeGif(const std::vector<int>& frames, int delayCs) {
    QByteArray gif("GIF89a");
    le16(gif, 4);
    le16(gif, 4);
    gif.append(char(0x80)); // global colour table of 2 entries
    gif.append(char(0));
    gif.append(char(0));
    gif.append(QByteArray::fromHex("ff00000000ff"));
    gif.append(QByteArray::fromHex("21ff0b4e45545343415045322e300301000000")); // loop for ever
    for (int index : frames) {
        gif.append(QByteArray::fromHex("21f904"));
        gif.append(char(0));
        le16(gif, delayCs);
        gif.append(char(0));
        gif.append(char(0));
        gif.append(char(0x2C));
        le16(gif, 0);
        le16(gif, 0);
        le16(gif, 4);
        le16(gif, 4);
        gif.append(char(0));
        // LZW, minimum code size 2, 3-bit codes: a clear code before each of
        // the 16 pixels keeps the code size fixed; then the end code.
        std::vector<int> codes;
        for (int i = 0; i < 16; ++i) {
            codes.push_back(4);
            codes.push_back(index);
        }
        codes.push_back(5);
        QByteArray data;
        std::uint32_t bits = 0;
        int count = 0;
        for (int code : codes) {
            bits |= std::uint32_t(code) << count;
            count += 3;
            while (count >= 8) {
                data.append(char(bits & 0xFF));
                bits >>= 8;
                count -= 8;
            }
        }
        if (count > 0) data.append(char(bits & 0xFF));
        gif.append(char(2));
        gif.append(char(data.size()));
        gif.append(data);
        gif.append(char(0));
    }
    gif.append(char(0x3B));
    return gif;
}

QString writeFile(const char* name, const QByteArray& bytes) {
    const QString path = QString::fromStdString((std::filesystem::path(std::getenv("HOME")) / name).string());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QImage render(QWidget& view) {
    return view.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(AnimationImageView, PlaysAGifInOrderAtItsDuration) {
    const TvImage image = TvImage::fromFile(writeFile("two.gif", makeGif({0, 1}, 30)));
    ASSERT_EQ(image.frameCount(), 2);
    EXPECT_TRUE(image.isAnimatedBitmap);
    EXPECT_DOUBLE_EQ(image.frameDuration, 0.3);
    EXPECT_EQ(GetBitmapImage(image).pixel(0, 0) & 0xFFFFFF, 0xFF0000u);

    TvAnimationImageView view;
    view.resize(16, 16);
    view.setImage(image);
    EXPECT_DOUBLE_EQ(view.frameDuration(), 0.3);
    // Drawn scaled over the whole bounds.
    EXPECT_EQ(rgbAt(render(view), 15, 15), 0xFF0000u);
    view.incrementCurrentFrame();
    EXPECT_EQ(view.currentFrame(), 1);
    EXPECT_EQ(rgbAt(render(view), 0, 0), 0x0000FFu);
    view.setImage(image); // the same image: the frame stays
    EXPECT_EQ(view.currentFrame(), 1);
    view.incrementCurrentFrame();
    EXPECT_EQ(view.currentFrame(), 0);
    EXPECT_EQ(rgbAt(render(view), 8, 8), 0xFF0000u);

    view.startThreadAnimation();
    EXPECT_TRUE(view.isAnimating());
    view.stopThreadAnimation();
    EXPECT_FALSE(view.isAnimating());
}

// No duration, or one too short to be meant, would spin the GUI thread:
// such images play at the spinner's 0.1 s.
TEST(AnimationImageView, MissingOrTinyDurationPlaysAtATenth) {
    for (int delay : {0, 1}) {
        TvAnimationImageView view;
        view.setImage(TvImage::fromFile(writeFile("fast.gif", makeGif({0, 1}, delay))));
        EXPECT_EQ(view.frameCount(), 2);
        EXPECT_DOUBLE_EQ(view.frameDuration(), 0.1) << delay;
    }
    TvAnimationImageView view;
    view.setImage(TvImage{});
    view.incrementCurrentFrame();
    EXPECT_EQ(view.currentFrame(), 0);
    render(view); // nothing to draw, nothing drawn
}

TEST(AnimationImageView, AGifFailingPartWayPlaysTheFramesRead) {
    QByteArray bytes = makeGif({0, 1, 0}, 10);
    bytes.chop(20); // into the third frame
    const TvImage image = TvImage::fromFile(writeFile("cut.gif", bytes));
    EXPECT_GE(image.frameCount(), 1);
    EXPECT_LE(image.frameCount(), 2);
    EXPECT_TRUE(TvImage::fromFile(writeFile("junk.gif", QByteArray("GIF89a junk"))).isNull());
    EXPECT_TRUE(TvImage::fromFile(QStringLiteral("/nonexistent/x.gif")).isNull());
}

TEST(AnimationImageView, SpinnerFramesAtTheOrigin) {
    TvUI::setupSpinnerImage();
    QWidget window;
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    window.setPalette(palette);
    window.resize(60, 60);
    auto* view = new TvAnimationImageView(&window);
    view->setGeometry(0, 0, 40, 40);
    view->setImage(TvUI::imagePartsAtTag(0));
    EXPECT_EQ(view->frameCount(), 12);
    EXPECT_DOUBLE_EQ(view->frameDuration(), 0.1);
    const QImage first = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(rgbAt(first, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(rgbAt(first, 35, 35), 0x808080u) << "drawn at its own size, not scaled";
    EXPECT_EQ(first.copy(0, 0, 32, 32), TvUI::imagePartsAtTag(0).frames[0].convertToFormat(QImage::Format_ARGB32));
    for (int i = 0; i < 6; ++i) view->incrementCurrentFrame();
    const QImage sixth = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(sixth.copy(0, 0, 32, 32), TvUI::imagePartsAtTag(0).frames[6].convertToFormat(QImage::Format_ARGB32));
}

TEST(AnimationImageView, StopsWhenItLeavesItsWindow) {
    QWidget window;
    auto* view = new TvAnimationImageView(&window);
    view->setImage(TvUI::imagePartsAtTag(0));
    view->startThreadAnimation();
    view->startThreadAnimation(); // a second start changes nothing
    EXPECT_TRUE(view->isAnimating());
    view->setParent(nullptr);
    EXPECT_FALSE(view->isAnimating());
    delete view;
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
