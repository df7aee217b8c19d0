// The printer destination: the rendering view's page rectangles and
// drawing, the stored print settings, the settings panel and the print run
// to a local IPP printer (ippeveprinter started by the test), whose kept
// documents are read back with qpdf.
#include "IppPrinter.h"
#include "PrintInfo.h"
#include "PrintOperation.h"
#include "PrintPanel.h"
#include "PrinterController.h"
#include "Principal.h"
#include "RenderingView.h"
#include "TempHome.h"

#include <desktop/Desktop.h>
#include <desktop/Print.h>
#include <foundation/UserDefaults.h>
#include <plugin/TvQLRPlugin.h>
#include <QlrUtilsMethod.h>

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QtEndian>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace {

using namespace sendvia_printer;
namespace fs = std::filesystem;

// ---------------------------------------------------------------- helpers

class Printer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = new kdtest::TempHome;
        home->env().set("QT_QPA_PLATFORM", "offscreen");
        home->env().set("LANGUAGE", "en");
        // No scheduler: only the printers the tests start are reached.
        home->env().set("CUPS_SERVER", (home->root() / "no-scheduler.sock").string());
        home->env().set("PRINTER", std::nullopt);
        home->env().set("LPDEST", std::nullopt);
        static int argc = 1;
        static char name[] = "printer_destination_test";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        kdkit::RenderingView::setDocumentPause(std::chrono::milliseconds(0));
        PrintOperation::setTimeout(std::chrono::seconds(10));
    }
    static void TearDownTestSuite() {
        delete app;
        delete home;
    }
    void SetUp() override {
        work = home->root() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(work);
    }

    static kdtest::TempHome* home;
    static QApplication* app;
    fs::path work;
};
kdtest::TempHome* Printer::home = nullptr;
QApplication* Printer::app = nullptr;

// Answers every alert that comes up while it lives with its first button,
// noting their texts.
class AlertAnswers {
public:
    AlertAnswers() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->buttons().isEmpty()) return;
            texts.push_back(box->informativeText().toStdString());
            box->buttons().front()->click();
        });
        timer_.start(10);
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

// Acts on the print panel once it runs modally, then presses OK or Cancel.
class PanelAnswer {
public:
    PanelAnswer(bool ok, std::function<void(PrintPanel&)> edit = {}) {
        QObject::connect(&timer_, &QTimer::timeout, [this, ok, edit] {
            auto* panel = qobject_cast<PrintPanel*>(QApplication::activeModalWidget());
            if (!panel) return;
            timer_.stop();
            shown = true;
            if (edit) edit(*panel);
            auto* box = panel->findChild<QDialogButtonBox*>();
            box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        timer_.start(10);
    }
    bool shown = false;

private:
    QTimer timer_;
};

kdd::print::Media a4() { return {"iso_a4_210x297mm", 595.28, 841.89, 9.64, 18, 9.64, 18}; }

kdf::Bytes archived(const kdf::Dictionary& d) { return *QlrUtilsMethod::encodeDictToData(kdf::Value(d)); }

kdkit::UserRef userWith(const PrintInfo& info, std::optional<int> layout) {
    auto user = std::make_shared<kdf::Dictionary>();
    (*user)["AppUser.ID"] = "USER-1";
    (*user)[kPrintInfoDictKey] = archived(info.dictionary());
    if (layout) (*user)[kPrintLayoutTypeKey] = *layout;
    return user;
}

std::string writePng(const fs::path& path, QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    EXPECT_TRUE(image.save(QString::fromStdString(path.string()), "PNG"));
    return path.string();
}

// --- The PDF as qpdf reads it: each page's media box and the rectangles
// its images are painted into (points, y downwards from the top edge), with
// the pixel size of each image.
struct PlacedImage {
    QRectF rect;
    QSize pixels;
};
struct PdfPage {
    QSizeF mediaBox;
    std::vector<PlacedImage> images;
};

struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    // This matrix applied first, then n.
    Matrix then(const Matrix& n) const {
        return {a * n.a + b * n.c, a * n.b + b * n.d, c * n.a + d * n.c,
                c * n.b + d * n.d, e * n.a + f * n.c + n.e, e * n.b + f * n.d + n.f};
    }
    QPointF map(double x, double y) const { return {a * x + c * y + e, b * x + d * y + f}; }
};

QJsonObject objectValue(const QJsonObject& objects, const QString& ref) {
    return objects.value("obj:" + ref).toObject();
}

std::vector<PdfPage> readPdf(const std::string& path) {
    const std::string json =
        kdd::runAndRead("qpdf", {"--json=2", "--json-stream-data=inline", "--decode-level=generalized", path},
                        std::chrono::seconds(30))
            .value_or("");
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    const QJsonArray qpdf = root.value("qpdf").toArray();
    const QJsonObject objects = qpdf.size() > 1 ? qpdf.at(1).toObject() : QJsonObject();
    std::vector<PdfPage> pages;
    for (const QJsonValue& pageValue : root.value("pages").toArray()) {
        const QJsonObject page = pageValue.toObject();
        PdfPage out;
        const QJsonObject pageDict = objectValue(objects, page.value("object").toString()).value("value").toObject();
        const QJsonArray box = pageDict.value("/MediaBox").toArray();
        if (box.size() == 4)
            out.mediaBox = {box.at(2).toDouble() - box.at(0).toDouble(), box.at(3).toDouble() - box.at(1).toDouble()};
        // Image names to pixel sizes, through the page's resources.
        std::map<QString, QSize> sizes;
        QJsonObject resources = pageDict.value("/Resources").toObject();
        if (resources.isEmpty() && pageDict.value("/Resources").isString())
            resources = objectValue(objects, pageDict.value("/Resources").toString().chopped(0)).value("value").toObject();
        QJsonValue xobjectsValue = resources.value("/XObject");
        QJsonObject xobjects = xobjectsValue.isString()
                                   ? objectValue(objects, xobjectsValue.toString()).value("value").toObject()
                                   : xobjectsValue.toObject();
        for (auto it = xobjects.begin(); it != xobjects.end(); ++it) {
            const QJsonObject dict = objectValue(objects, it.value().toString()).value("stream").toObject().value("dict").toObject();
            if (dict.value("/Subtype").toString() == "/Image")
                sizes[it.key()] = QSize(dict.value("/Width").toInt(), dict.value("/Height").toInt());
        }
        // The content streams, their matrices followed up to each image.
        std::string content;
        QJsonValue contents = pageDict.value("/Contents");
        QJsonArray refs = contents.isArray() ? contents.toArray() : QJsonArray{contents};
        for (const QJsonValue& ref : refs) {
            const QString data = objectValue(objects, ref.toString()).value("stream").toObject().value("data").toString();
            content += QByteArray::fromBase64(data.toLatin1()).toStdString() + "\n";
        }
        std::istringstream tokens(content);
        std::vector<Matrix> stack{Matrix{}};
        std::vector<std::string> operands;
        std::string token;
        while (tokens >> token) {
            if (token == "q") {
                stack.push_back(stack.back());
            } else if (token == "Q") {
                if (stack.size() > 1) stack.pop_back();
            } else if (token == "cm" && operands.size() >= 6) {
                const std::size_t n = operands.size();
                Matrix m{std::stod(operands[n - 6]), std::stod(operands[n - 5]), std::stod(operands[n - 4]),
                         std::stod(operands[n - 3]), std::stod(operands[n - 2]), std::stod(operands[n - 1])};
                stack.back() = m.then(stack.back());
            } else if (token == "Do" && !operands.empty()) {
                const QString name = QString::fromStdString(operands.back());
                if (sizes.count(name)) {
                    const Matrix& m = stack.back();
                    const QPointF p[] = {m.map(0, 0), m.map(1, 0), m.map(0, 1), m.map(1, 1)};
                    double x0 = p[0].x(), x1 = x0, y0 = p[0].y(), y1 = y0;
                    for (const QPointF& q : p) {
                        x0 = std::min(x0, q.x());
                        x1 = std::max(x1, q.x());
                        y0 = std::min(y0, q.y());
                        y1 = std::max(y1, q.y());
                    }
                    out.images.push_back({QRectF(x0, out.mediaBox.height() - y1, x1 - x0, y1 - y0), sizes[name]});
                }
            }
            const bool isOperand = !token.empty() && (token[0] == '/' || token[0] == '-' || token[0] == '.' ||
                                                      std::isdigit(static_cast<unsigned char>(token[0])));
            if (isOperand)
                operands.push_back(token);
            else
                operands.clear();
        }
        pages.push_back(std::move(out));
    }
    return pages;
}

// ------------------------------------------------------- rendering view

class Pages : public kdkit::RenderingViewDelegate {
public:
    QImage readPrintImage(int pageIndex) override {
        asked.push_back(pageIndex);
        return pageIndex < int(images.size()) ? images[std::size_t(pageIndex)] : QImage();
    }
    std::vector<QImage> images;
    std::vector<int> asked;
};

QImage solid(int w, int h, QColor colour = Qt::red) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

TEST_F(Printer, DrawingBoundsFollowLayoutMarginsAndScale) {
    const double nan = std::nan("");
    struct Case {
        const char* what;
        QSize image;
        bool fit;
        double scale;
        QRectF imageable;
        double left, top;
        QRectF expected;
    } cases[] = {
        {"fit into 500x700", {2000, 1000}, true, 1.0, {0, 0, 500, 700}, 0, 0, {0, 0, 500, 250}},
        {"fit keeps the printable origin", {2000, 1000}, true, 1.0, {20, 30, 500, 700}, 20, 30, {40, 60, 500, 250}},
        {"fit of a narrow image floors", {333, 1000}, true, 1.0, {0, 0, 500, 700}, 0, 0, {0, 0, 233, 700}},
        {"actual size centres, negative offsets", {2000, 1000}, false, 1.0, {}, 0, 0, {-694, -104, 2000, 1000}},
        {"actual size at half scale", {1000, 500}, false, 0.5, {}, 0, 0, {112, 542, 1000, 500}},
        {"margins divided by the scale", {1000, 500}, false, 0.5, {}, 10, 20, {132, 582, 1000, 500}},
        {"scale 0 counts as 1", {2000, 1000}, false, 0.0, {}, 0, 0, {-694, -104, 2000, 1000}},
        {"negative scale counts as 1", {2000, 1000}, false, -2.0, {}, 0, 0, {-694, -104, 2000, 1000}},
        {"no number counts as 1", {2000, 1000}, false, nan, {}, 0, 0, {-694, -104, 2000, 1000}},
        {"no image", {0, 0}, true, 1.0, {0, 0, 500, 700}, 0, 0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        kdkit::RenderingView view(QRectF(0, 0, 612, 792));
        view.setIsPageFit(c.fit);
        if (!c.image.isEmpty()) view.setDrawImage(solid(c.image.width(), c.image.height()));
        kdkit::RenderingPrintSettings settings;
        settings.scalingFactor = c.scale;
        settings.imageablePageBounds = c.imageable;
        settings.leftMargin = c.left;
        settings.topMargin = c.top;
        EXPECT_EQ(view.drawingBounds(settings), c.expected) << c.what;
    }
}

TEST_F(Printer, PagesAskTheDelegateOnePageAtATime) {
    kdkit::RenderingView view(QRectF(0, 0, 612, 792));
    EXPECT_TRUE(view.isPageFit());
    EXPECT_EQ(view.printCount(), 0);
    Pages pages;
    pages.images = {solid(10, 10), QImage(), solid(30, 30)};
    view.setDelegate(&pages);
    view.setPrintCount(3);
    int first = 0, length = 0;
    EXPECT_TRUE(view.knowsPageRange(&first, &length));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(length, 3);

    EXPECT_EQ(view.rectForPage(0), QRectF());
    EXPECT_TRUE(pages.asked.empty());
    EXPECT_EQ(view.rectForPage(1), QRectF(0, 0, 612, 792));
    EXPECT_EQ(view.drawImage().width(), 10);
    // No image for page 2: page 1's stays.
    view.setNeedsDisplay(false);
    view.rectForPage(2);
    EXPECT_EQ(view.drawImage().cacheKey(), pages.images[0].cacheKey());
    EXPECT_FALSE(view.needsDisplay());
    view.rectForPage(3);
    EXPECT_EQ(view.drawImage().width(), 30);
    EXPECT_TRUE(view.needsDisplay());
    EXPECT_EQ(pages.asked, (std::vector<int>{0, 1, 2}));
}

// The drawing lands where the page wants it: the margins the transform
// takes away and the scale it applies undo drawingBounds' own.
TEST_F(Printer, DrawRectPlacesTheImageOnThePage) {
    struct Case {
        const char* what;
        bool fit;
        double scale;
        QRect expected; // on a 200 x 300 page, one pixel a point
    } cases[] = {
        {"fit into the printable area", true, 1.0, {20, 30, 160, 80}},
        {"actual size, centred", false, 1.0, {50, 125, 100, 50}},
        {"actual size at half scale, centred", false, 0.5, {75, 138, 50, 25}},
    };
    for (const Case& c : cases) {
        kdkit::RenderingView view(QRectF(0, 0, 200, 300));
        view.setIsPageFit(c.fit);
        view.setDrawImage(solid(100, 50, Qt::blue));
        kdkit::RenderingPrintSettings settings;
        settings.scalingFactor = c.scale;
        settings.imageablePageBounds = QRectF(20, 30, 160, 240);
        settings.leftMargin = 20;
        settings.topMargin = 30;
        QImage page(200, 300, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        view.drawRect(painter, settings);
        painter.end();
        QRect found;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (page.pixel(x, y) == QColor(Qt::blue).rgb()) found |= QRect(x, y, 1, 1);
        EXPECT_LE(std::abs(found.x() - c.expected.x()), 1) << c.what;
        EXPECT_LE(std::abs(found.y() - c.expected.y()), 1) << c.what;
        EXPECT_LE(std::abs(found.width() - c.expected.width()), 1) << c.what;
        EXPECT_LE(std::abs(found.height() - c.expected.height()), 1) << c.what;
    }
}

// ------------------------------------------------------- print settings

TEST_F(Printer, StoredSettingsTakeDefaultsOrAreUnusable) {
    const kdf::Dictionary good = PrintInfo::forDestination("Office", a4()).dictionary();
    const auto with = [&](const char* key, std::optional<kdf::Value> value) {
        kdf::Dictionary d = good;
        if (value)
            d[key] = *value;
        else
            d.erase(key);
        return d;
    };
    const std::optional<PrintInfo> back = PrintInfo::fromDictionary(good);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->dictionary(), good);

    // Unusable as a whole.
    for (const kdf::Dictionary& d : {with(kPrinterNameKey, std::nullopt), with(kPrinterNameKey, kdf::Value(7)),
                                     with(kPrinterNameKey, kdf::Value("")), with(kPaperWidthKey, std::nullopt),
                                     with(kPaperWidthKey, kdf::Value("595")), with(kPaperHeightKey, kdf::Value(0.0)),
                                     with(kPaperHeightKey, kdf::Value(std::nan(""))),
                                     with(kPaperWidthKey, kdf::Value(1e9))})
        EXPECT_FALSE(PrintInfo::fromDictionary(d));

    // Values that take their defaults.
    struct Case {
        const char* key;
        kdf::Value value;
        std::function<bool(const PrintInfo&)> check;
    } cases[] = {
        {kCopiesKey, kdf::Value("3"), [](const PrintInfo& i) { return i.copies == 1; }},
        {kCopiesKey, kdf::Value(0), [](const PrintInfo& i) { return i.copies == 1; }},
        {kCopiesKey, kdf::Value(1000000), [](const PrintInfo& i) { return i.copies == kMaxCopies; }},
        {kOrientationKey, kdf::Value(7), [](const PrintInfo& i) { return i.orientation == kPortrait; }},
        {kScalingFactorKey, kdf::Value(0.0), [](const PrintInfo& i) { return i.scalingFactor == 1.0; }},
        {kScalingFactorKey, kdf::Value(-3.0), [](const PrintInfo& i) { return i.scalingFactor == 1.0; }},
        {kScalingFactorKey, kdf::Value("x"), [](const PrintInfo& i) { return i.scalingFactor == 1.0; }},
        {kLeftMarginKey, kdf::Value(600.0), [](const PrintInfo& i) { return i.paper.left == 0 && i.paper.top == 0; }},
        {kFirstPageKey, kdf::Value(5), [](const PrintInfo& i) { return i.allPages; }},
    };
    for (const Case& c : cases) {
        kdf::Dictionary d = with(c.key, c.value);
        if (std::string(c.key) == kFirstPageKey) {
            d[kAllPagesKey] = false;
            d[kLastPageKey] = 2;
        }
        const std::optional<PrintInfo> info = PrintInfo::fromDictionary(d);
        ASSERT_TRUE(info) << c.key;
        EXPECT_TRUE(c.check(*info)) << c.key;
    }

    // Landscape turns the paper and its margins.
    PrintInfo landscape = *back;
    landscape.orientation = kLandscape;
    EXPECT_EQ(landscape.paperSize(), QSizeF(841.89, 595.28));
    EXPECT_EQ(landscape.imageableBounds(), QRectF(18, 9.64, 841.89 - 36, 595.28 - 19.28));

    // Stored data that is no archive, or an archive of something else.
    auto user = std::make_shared<kdf::Dictionary>();
    (*user)[kPrintInfoDictKey] = kdf::Bytes{'n', 'o', 'p', 'e'};
    EXPECT_FALSE(storedPrintInfo(*user));
    (*user)[kPrintInfoDictKey] = archived({{"a", kdf::Value(kdf::Array{})}});
    EXPECT_FALSE(storedPrintInfo(*user));
    (*user)[kPrintInfoDictKey] = "text";
    EXPECT_FALSE(storedPrintInfo(*user));
    for (const kdf::Value& layout : {kdf::Value(0), kdf::Value(1), kdf::Value(2), kdf::Value(-1), kdf::Value("0")}) {
        (*user)[kPrintLayoutTypeKey] = layout;
        EXPECT_EQ(storedLayoutType(*user), layout == kdf::Value(0) ? 0 : 1);
    }
}

TEST_F(Printer, PageImagesThatCannotBeLoadedAreNone) {
    const std::string good = writePng(work / "good.png", {40, 20}, Qt::green);
    // A header promising 40000 x 40000 pixels, and a cut-off file.
    QByteArray huge;
    {
        QImage small(8, 8, QImage::Format_RGB32);
        small.fill(Qt::gray);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        small.save(&buffer, "PNG");
        huge = png;
        const quint32 big = qToBigEndian<quint32>(40000);
        std::memcpy(huge.data() + 16, &big, 4);
        std::memcpy(huge.data() + 20, &big, 4);
        std::ofstream(work / "truncated.png", std::ios::binary).write(png.constData(), png.size() / 2);
    }
    std::ofstream(work / "huge.png", std::ios::binary).write(huge.constData(), huge.size());

    TvSendviaPrinterPluginWindowController controller(userWith(PrintInfo::forDestination("P", a4()), 1));
    EXPECT_TRUE(controller.readPrintImage(0).isNull()); // no list yet
    AlertAnswers alerts;
    const std::vector<std::string> files{good, (work / "missing.png").string(), (work / "truncated.png").string(),
                                         (work / "huge.png").string()};
    // A printer that is not there: the run fails, the list stays.
    controller.executeOperation(files, false, nullptr);
    EXPECT_EQ(controller.printImageList(), files);
    EXPECT_EQ(controller.readPrintImage(0).size(), QSize(40, 20));
    for (int index : {1, 2, 3, 4, -1}) EXPECT_TRUE(controller.readPrintImage(index).isNull()) << index;
}

// ------------------------------------------------------- the print run

class PrinterRun : public Printer {
protected:
    void SetUp() override {
        Printer::SetUp();
        printer = std::make_unique<printtest::IppPrinter>(work.string());
        ASSERT_TRUE(printer->running()) << "ippeveprinter did not start";
    }
    // The printer's A4 with its margins, as the printer lists it.
    kdd::print::Media printerA4() {
        std::string error;
        const std::optional<kdd::print::MediaList> list = kdd::print::destinationMedia(printer->uri(), kdd::print::kDefaultTimeout, &error);
        EXPECT_TRUE(list) << error;
        if (list)
            for (const kdd::print::Media& m : list->media)
                if (m.name == "iso_a4_210x297mm") return m;
        ADD_FAILURE() << "no A4";
        return a4();
    }
    std::vector<std::string> threePages() {
        return {writePng(work / "p1.png", {1700, 2200}, Qt::red), writePng(work / "p2.png", {2200, 1000}, Qt::green),
                writePng(work / "p3.png", {300, 400}, Qt::blue)};
    }
    std::unique_ptr<printtest::IppPrinter> printer;
};

TEST_F(PrinterRun, PrinterListsItsMediaWithMargins) {
    std::string error;
    const std::optional<kdd::print::MediaList> list =
        kdd::print::destinationMedia(printer->uri(), kdd::print::kDefaultTimeout, &error);
    ASSERT_TRUE(list) << error;
    ASSERT_TRUE(list->defaultMedia);
    EXPECT_EQ(list->defaultMedia->name, "na_letter_8.5x11in");
    EXPECT_NEAR(list->defaultMedia->width, 612, 0.01);
    EXPECT_NEAR(list->defaultMedia->length, 792, 0.01);
    const kdd::print::Media a4 = printerA4();
    EXPECT_NEAR(a4.width, 595.28, 0.01);
    EXPECT_NEAR(a4.left, 3.40 * 72 / 25.4, 0.01);
    EXPECT_NEAR(a4.top, 6.35 * 72 / 25.4, 0.01);
}

TEST_F(PrinterRun, FitPrintsEachImageInsideThePrintableArea) {
    const kdd::print::Media paper = printerA4();
    PrintInfo info = PrintInfo::forDestination(printer->uri(), paper);
    TvSendviaPrinterPluginWindowController controller(userWith(info, 1));
    const std::vector<std::string> files = threePages();
    AlertAnswers alerts;
    EXPECT_EQ(controller.executeOperation(files, false, nullptr), 0);
    EXPECT_TRUE(alerts.texts.empty());
    const std::vector<std::string> documents = printer->waitForDocuments(1, std::chrono::seconds(10));
    ASSERT_EQ(documents.size(), 1u);
    const std::vector<PdfPage> pages = readPdf(documents[0]);
    ASSERT_EQ(pages.size(), 3u);
    const QRectF printable = info.imageableBounds();
    const QSize sizes[] = {{1700, 2200}, {2200, 1000}, {300, 400}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        // The document's pages measure whole points.
        EXPECT_NEAR(pages[i].mediaBox.width(), paper.width, 0.5);
        EXPECT_NEAR(pages[i].mediaBox.height(), paper.length, 0.5);
        ASSERT_EQ(pages[i].images.size(), 1u);
        const QRectF r = pages[i].images[0].rect;
        EXPECT_EQ(pages[i].images[0].pixels, sizes[i]);
        // Within the printable area, up to the point that rounding the
        // origin up may add.
        EXPECT_GE(r.left(), printable.left() - 0.01);
        EXPECT_GE(r.top(), printable.top() - 0.01);
        EXPECT_LE(r.right(), printable.right() + 1.0);
        EXPECT_LE(r.bottom(), printable.bottom() + 1.0);
        // Fitted: the ratio kept, one side filling the printable area.
        EXPECT_NEAR(r.width() / r.height(), double(sizes[i].width()) / sizes[i].height(), 0.01);
        EXPECT_TRUE(std::abs(r.width() - printable.width()) < 1.5 || std::abs(r.height() - printable.height()) < 1.5);
    }
    // Printed, not deleted; the document made for the printer is gone.
    for (const std::string& f : files) EXPECT_TRUE(fs::exists(f));
    for (const auto& entry : fs::recursive_directory_iterator(home->root() / "tmp"))
        EXPECT_NE(entry.path().extension(), ".pdf") << entry.path();
}

TEST_F(PrinterRun, ActualSizeCentresAndMissingPageRepeatsThePrevious) {
    PrintInfo info = PrintInfo::forDestination(printer->uri(), printerA4());
    info.orientation = kLandscape;
    TvSendviaPrinterPluginWindowController controller(userWith(info, 0));
    std::vector<std::string> files = {writePng(work / "a.png", {300, 200}, Qt::red),
                                      (work / "gone.png").string(),
                                      writePng(work / "c.png", {120, 90}, Qt::blue)};
    AlertAnswers alerts;
    EXPECT_EQ(controller.executeOperation(files, true, nullptr), 0);
    const std::vector<std::string> documents = printer->waitForDocuments(1, std::chrono::seconds(10));
    ASSERT_EQ(documents.size(), 1u);
    const std::vector<PdfPage> pages = readPdf(documents[0]);
    ASSERT_EQ(pages.size(), 3u);
    const QSize expected[] = {{300, 200}, {300, 200}, {120, 90}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(pages[i].mediaBox.width(), 841.89, 0.5);
        EXPECT_NEAR(pages[i].mediaBox.height(), 595.28, 0.5);
        ASSERT_EQ(pages[i].images.size(), 1u);
        const QRectF r = pages[i].images[0].rect;
        EXPECT_EQ(pages[i].images[0].pixels, expected[i]);
        EXPECT_NEAR(r.width(), expected[i].width(), 1.0);
        EXPECT_NEAR(r.height(), expected[i].height(), 1.0);
        EXPECT_NEAR(r.center().x(), 841.89 / 2, 1.0);
        EXPECT_NEAR(r.center().y(), 595.28 / 2, 1.0);
    }
    // The delete flag: the files that exist are gone.
    for (const std::string& f : files) EXPECT_FALSE(fs::exists(f)) << f;
}

TEST_F(PrinterRun, FailuresAlertAndStillDeleteTheFiles) {
    const PrintInfo info = PrintInfo::forDestination(printer->uri(), printerA4());
    struct Case {
        const char* what;
        std::function<kdkit::UserRef()> user;
        bool stopPrinter;
        bool emptyList;
        std::int32_t expected;
    } cases[] = {
        {"printer stopped", [&] { return userWith(info, 1); }, true, false, std::int32_t(kTvSvPluginFailSend)},
        {"empty list", [&] { return userWith(info, 1); }, false, true, std::int32_t(kTvSvPluginFailSend)},
        {"no settings", [&] { return std::make_shared<kdf::Dictionary>(); }, false, false,
         std::int32_t(kTvSvPluginFailSend)},
        {"no settings dictionary", [] { return kdkit::UserRef(); }, false, false, std::int32_t(kTvSvPluginNotFoundID)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> files =
            c.emptyList ? std::vector<std::string>{} : std::vector<std::string>{writePng(work / "x.png", {50, 50}, Qt::red)};
        if (c.stopPrinter) printer->stop();
        TvSendviaPrinterPluginWindowController controller(c.user());
        AlertAnswers alerts;
        EXPECT_EQ(controller.executeOperation(files, true, nullptr), c.expected);
        EXPECT_EQ(alerts.texts, (std::vector<std::string>{kdkit::localized("Err_PrintFailed")}));
        if (c.user()) {
            for (const std::string& f : files) EXPECT_FALSE(fs::exists(f));
        }
    }
}

TEST_F(PrinterRun, PageRangeAndCopiesGoWithTheJob) {
    PrintInfo info = PrintInfo::forDestination(printer->uri(), printerA4());
    info.allPages = false;
    info.firstPage = 2;
    info.lastPage = 7;
    info.copies = 2;
    TvSendviaPrinterPluginWindowController controller(userWith(info, 1));
    AlertAnswers alerts;
    EXPECT_EQ(controller.executeOperation(threePages(), false, nullptr), 0);
    const std::vector<std::string> documents = printer->waitForDocuments(1, std::chrono::seconds(10));
    ASSERT_EQ(documents.size(), 1u);
    const std::vector<PdfPage> pages = readPdf(documents[0]);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].images.at(0).pixels, QSize(2200, 1000));
    EXPECT_EQ(pages[1].images.at(0).pixels, QSize(300, 400));
    // The printer took the copies and the paper with the job.
    const fs::path ask = work / "job.test";
    kdtest::TempHome::writeText(ask, "{\n OPERATION Get-Job-Attributes\n GROUP operation-attributes-tag\n"
                                     " ATTR charset attributes-charset utf-8\n"
                                     " ATTR language attributes-natural-language en\n"
                                     " ATTR uri printer-uri $uri\n ATTR integer job-id 1\n"
                                     " ATTR keyword requested-attributes all\n STATUS successful-ok\n}\n");
    const std::string job =
        kdd::runAndRead("ipptool", {"-tv", printer->uri(), ask.string()}, std::chrono::seconds(30)).value_or("");
    EXPECT_NE(job.find("copies (integer) = 2"), std::string::npos) << job;
    EXPECT_NE(job.find("iso_a4_210x297mm"), std::string::npos) << job;
    // A range that holds none of the pages prints nothing and says so.
    info.firstPage = info.lastPage = 9;
    TvSendviaPrinterPluginWindowController none(userWith(info, 1));
    EXPECT_EQ(none.executeOperation(threePages(), false, nullptr), std::int32_t(kTvSvPluginFailSend));
    EXPECT_EQ(printer->documents().size(), 1u);
}

// A printer that takes the connection and then never answers: the run
// gives up after the time-out instead of holding the application.
TEST_F(Printer, SilentPrinterFailsAfterTheTimeOut) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string uri = "ipp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/ipp/print";

    PrintOperation::setTimeout(std::chrono::milliseconds(800));
    TvSendviaPrinterPluginWindowController controller(userWith(PrintInfo::forDestination(uri, a4()), 1));
    AlertAnswers alerts;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(controller.executeOperation({writePng(work / "s.png", {20, 20}, Qt::red)}, true, nullptr),
              std::int32_t(kTvSvPluginFailSend));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(alerts.texts, (std::vector<std::string>{kdkit::localized("Err_PrintFailed")}));
    EXPECT_FALSE(fs::exists(work / "s.png"));
    // The media lookup of the settings gives up alike.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(kdd::print::destinationMedia(uri, std::chrono::milliseconds(800)));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(8));
    PrintOperation::setTimeout(std::chrono::seconds(10));
    ::close(fd);
}

// ------------------------------------------------------- settings

TEST_F(PrinterRun, NewUserGetsTheDefaultPrinterAndFit) {
    kdf::Dictionary user;
    TvSendviaPrinterPluginWindowController::setupData(user);
    EXPECT_EQ(storedLayoutType(user), 1);
    EXPECT_FALSE(kdf::find(user, kPrintInfoDictKey)) << "no printer at all: no settings";

    home->env().set("PRINTER", printer->uri());
    kdf::Dictionary withPrinter;
    TvSendviaPrinterPluginWindowController::setupData(withPrinter);
    home->env().set("PRINTER", std::nullopt);
    EXPECT_EQ(kdf::find(withPrinter, kPrintLayoutTypeKey)->toInteger(), 1);
    const std::optional<PrintInfo> info = storedPrintInfo(withPrinter);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->printerName, printer->uri());
    EXPECT_EQ(info->paper.name, "na_letter_8.5x11in");
    EXPECT_EQ(info->scalingFactor, 1.0);
    EXPECT_EQ(info->copies, 1);
}

TEST_F(PrinterRun, SettingsPanelStoresOnOkOnly) {
    const PrintInfo info = PrintInfo::forDestination(printer->uri(), printerA4());
    const kdkit::UserRef user = userWith(info, 1);
    const kdf::Dictionary before = *user;
    QWidget parent;
    {
        TvSendviaPrinterPluginWindowController controller(user);
        PanelAnswer cancel(false, [](PrintPanel& panel) { panel.findChild<QSpinBox*>("copiesSpin")->setValue(5); });
        EXPECT_EQ(controller.runModal(&parent, true), 0);
        EXPECT_TRUE(cancel.shown);
        EXPECT_EQ(*user, before);
        EXPECT_FALSE(controller.accessoryView()->parentWidget());
    }
    {
        TvSendviaPrinterPluginWindowController controller(user);
        AccessoryView* accessory = controller.accessoryView();
        bool accessoryShown = false;
        PanelAnswer ok(true, [&](PrintPanel& panel) {
            accessoryShown = accessory->isVisibleTo(&panel) && panel.options() == 31;
            EXPECT_EQ(accessory->selectedItemTag(), 1);
            panel.findChild<QSpinBox*>("copiesSpin")->setValue(3);
            accessory->selectItemWithTag(kPageLayoutRealSize);
        });
        EXPECT_EQ(controller.runModal(&parent, true), 1);
        EXPECT_TRUE(accessoryShown);
        EXPECT_FALSE(controller.accessoryView()->parentWidget());
    }
    EXPECT_EQ(storedLayoutType(*user), 0);
    const std::optional<PrintInfo> stored = storedPrintInfo(*user);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->copies, 3);
    EXPECT_EQ(stored->printerName, printer->uri());
    EXPECT_EQ(stored->paper.name, "iso_a4_210x297mm");
}

// The panel keeps the stored paper when the printer lists none or cannot be
// asked, and offers another printer's default paper when one is chosen.
TEST_F(Printer, PanelPaperFollowsThePrinter) {
    const kdd::print::Media letter{"na_letter_8.5x11in", 612, 792, 18, 18, 18, 18};
    const kdd::print::Media a5{"iso_a5_148x210mm", 419.53, 595.28, 18, 18, 18, 18};
    std::map<std::string, std::optional<kdd::print::MediaList>> media{
        {"Empty", kdd::print::MediaList{}},
        {"Gone", std::nullopt},
        {"Office", kdd::print::MediaList{{letter, a5}, a5}},
    };
    const PrintPanel::MediaSource source = [&](const std::string& d) { return media.at(d); };
    for (const char* stored : {"Empty", "Gone"}) {
        PrintPanel panel({{"Office", "", true}}, source);
        PrintInfo info = PrintInfo::forDestination(stored, a4());
        panel.setPrintInfo(info);
        EXPECT_EQ(panel.printInfo().printerName, stored);
        EXPECT_EQ(panel.printInfo().paper.name, a4().name) << stored;
        // Another printer: its default paper.
        auto* printers = panel.findChild<QComboBox*>("printerCombo");
        printers->setCurrentIndex(printers->findText("Office"));
        EXPECT_EQ(panel.printInfo().printerName, "Office");
        EXPECT_EQ(panel.printInfo().paper.name, a5.name) << stored;
    }
}

TEST_F(Printer, PrincipalWithoutSettingsShowsNotFoundPrinter) {
    kdkit::Principal principal;
    ASSERT_EQ(principal.connect(), kTvSvPluginSuccess);
    std::optional<std::string> id;
    ASSERT_EQ(principal.createID(&id), kTvSvPluginSuccess); // no printer anywhere: no settings stored
    QWidget parent;
    AlertAnswers alerts;
    EXPECT_EQ(principal.showSettingWithID(id, &parent), kTvSvPluginFailShowSetting);
    EXPECT_EQ(alerts.texts, (std::vector<std::string>{kdkit::localized("Err_NotFoundPrinter")}));

    std::optional<std::string> summary;
    EXPECT_EQ(principal.showSettingSummaryWithID(id, &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, std::string());

    bool enabled = true;
    EXPECT_EQ(principal.isSupportedFileType(std::string("png"), &enabled), kTvSvPluginSuccess);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(principal.isSupportedFileType(std::string("pdf"), &enabled), kTvSvPluginSuccess);
    EXPECT_FALSE(enabled);
    EXPECT_FALSE(principal.getShowFileNameSetting());
    EXPECT_FALSE(principal.getShowFileTypeSetting());
    EXPECT_FALSE(principal.getShowCommonSettingButton());
    EXPECT_EQ(principal.clickedLinkLabel(id), kTvSvPluginFailClickedLink);
}

TEST_F(Printer, SummaryIsTheStoredPrinterName) {
    const struct {
        kdkit::UserRef user;
        std::string expected;
    } cases[] = {
        {userWith(PrintInfo::forDestination("Office_Laser", a4()), 1), "Office_Laser"},
        {std::make_shared<kdf::Dictionary>(), ""},
        {kdkit::UserRef(), ""},
    };
    for (const auto& c : cases) {
        TvSendviaPrinterPluginWindowController controller(c.user);
        EXPECT_EQ(controller.summaryString(), c.expected);
    }
    // Through the principal, with the bundle's summary format: a default
    // printer that does not answer still becomes the new user's printer,
    // on the local paper.
    const std::string absent = "ipp://127.0.0.1:1/ipp/print";
    home->env().set("PRINTER", absent);
    kdkit::Principal principal;
    ASSERT_EQ(principal.connect(), kTvSvPluginSuccess);
    std::optional<std::string> id;
    ASSERT_EQ(principal.createID(&id), kTvSvPluginSuccess);
    home->env().set("PRINTER", std::nullopt);
    std::optional<std::string> summary;
    EXPECT_EQ(principal.showSettingSummaryWithID(id, &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, absent);
}

} // namespace
