#include "QlrUtilsMethodUI.h"
#include "TV_FuncUI.h"
#include "TempHome.h"

#include <foundation/Bundle.h>
#include <ui/ViewTag.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using namespace QlrUtilsMethod;

// The widget kit's slider, recognised by its class name.
class TvSlider : public QSlider {
    Q_OBJECT
public:
    using QSlider::QSlider;
};

namespace {

// A main bundle with the given languages and resources, for the duration.
class UiBundle {
public:
    explicit UiBundle(const fs::path& dir, std::initializer_list<const char*> languages = {"en"}) {
        fs::create_directories(dir / "Resources");
        kdtest::TempHome::writeText(dir / "Info.plist",
                                    "<plist><dict><key>CFBundleIdentifier</key><string>com.example.ui"
                                    "</string></dict></plist>");
        for (const char* l : languages) fs::create_directories(dir / "Resources" / (std::string(l) + ".lproj"));
        kdf::Bundle::setMainBundlePath(dir.string());
    }
    ~UiBundle() { kdf::Bundle::setMainBundlePath({}); }
};

QWidget* child(QWidget* parent, QRect frame, QWidget* w = nullptr) {
    if (!w) w = new QWidget;
    w->setParent(parent);
    w->setGeometry(frame);
    return w;
}

TEST(WindowPosition, AlignmentTable) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GE(screen.width(), 600);
    ASSERT_GE(screen.height(), 500);
    QWidget parent;
    parent.setGeometry(100, 100, 400, 300); // x 100..500, y 100..400
    struct Row {
        const char* name;
        bool withParent, flipped;
        QRect start;
        std::uint16_t alignment;
        QRect expected;
    } const rows[] = {
        {"pulled inside", true, false, {450, 380, 100, 50}, 0, {400, 350, 100, 50}},
        {"centred", true, false, {0, 0, 100, 50}, 0xFF00, {250, 225, 100, 50}},
        {"left top", true, false, {0, 0, 100, 50}, 1 | 2, {103, 103, 100, 50}},
        {"right bottom", true, false, {0, 0, 100, 50}, 4 | 8, {397, 347, 100, 50}},
        {"code 9", true, false, {0, 0, 100, 50}, 9, {103, 347, 100, 50}},
        {"code 12", true, false, {0, 0, 100, 50}, 12, {397, 347, 100, 50}},
        {"bottom overrides top", true, false, {0, 0, 100, 50}, 2 | 8, {0 + 100, 347, 100, 50}},
        {"top of a flipped window", true, true, {0, 0, 100, 50}, 2, {100, 100, 100, 50}},
        {"taller: the top wins", true, false, {150, 50, 100, 400}, 0, {150, 100, 100, 400}},
        {"taller, flipped: the bottom wins", true, true, {150, 50, 100, 400}, 0, {150, 0, 100, 400}},
        {"screen centred", false, false, {0, 0, 100, 50}, 0xFF00,
         {screen.x() + screen.width() / 2 - 50, screen.y() + screen.height() / 2 - 25, 100, 50}},
        {"off screen", false, false, {screen.x() - 40, screen.bottom() + 100, 100, 50}, 0,
         {screen.x(), screen.y() + screen.height() - 50, 100, 50}},
    };
    for (const auto& row : rows) {
        QWidget window;
        window.setFixedSize(row.start.size());
        window.move(row.start.topLeft());
        kdui::setFlippedContentView(&window, row.flipped);
        TV_Func::windowPositionAdjustment(&window, row.withParent ? &parent : nullptr, row.alignment);
        EXPECT_EQ(window.frameGeometry(), row.expected) << row.name;
    }
}

TEST(WindowPosition, ShrinksAResizableWindowButNotBelowItsMinimum) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget window;
    window.setMinimumSize(200, 100);
    window.setGeometry(50, 50, screen.width() + 200, screen.height() + 100);
    TV_Func::windowPositionAdjustment(&window, nullptr, 0);
    EXPECT_EQ(window.frameGeometry(), screen);

    QWidget parent;
    parent.setGeometry(100, 100, 150, 80);
    window.resize(400, 300);
    TV_Func::windowPositionAdjustment(&window, &parent, 0xFF00);
    EXPECT_EQ(window.size(), QSize(200, 100));
}

TEST(KeyViews, RingFollowsReadingOrderAndTargets) {
    QWidget window;
    auto* c = child(&window, {10, 70, 80, 20}, new QLineEdit);
    auto* a = child(&window, {10, 10, 80, 20}, new QLineEdit);
    auto* b = child(&window, {10, 40, 80, 20}, new QLineEdit);
    child(&window, {10, 100, 80, 20}, new QLabel("no focus"));

    TV_Func::setNextKeyViewsAtWindow(&window);
    EXPECT_EQ(TV_Func::nextKeyView(a), b);
    EXPECT_EQ(TV_Func::nextKeyView(b), c);
    EXPECT_EQ(TV_Func::nextKeyView(c), a);

    // A moves to C's place, B and C move up.
    TV_Func::setNextKeyViewsAtWindow(&window, {a, b, c}, a, c);
    EXPECT_EQ(TV_Func::nextKeyView(b), c);
    EXPECT_EQ(TV_Func::nextKeyView(c), a);
    EXPECT_EQ(TV_Func::nextKeyView(a), b);

    // Targets outside the window leave the whole list in use.
    QLineEdit stranger;
    TV_Func::setNextKeyViewsAtWindow(&window, {c, &stranger});
    EXPECT_EQ(TV_Func::nextKeyView(a), b);
}

TEST(Views, DeepListInReadingOrder) {
    QWidget root;
    root.resize(200, 200);
    auto* right = child(&root, {50, 10, 20, 20});
    auto* left = child(&root, {10, 10, 20, 20});
    auto* below = child(&root, {0, 50, 20, 20});
    auto* inner = child(left, {0, 0, 5, 5});
    EXPECT_EQ(TV_Func::deepSubviewsAtView(&root), (std::vector<QWidget*>{&root, left, inner, right, below}));
    EXPECT_TRUE(TV_Func::deepSubviewsAtView(nullptr).empty());
    EXPECT_EQ(TV_Func::SortViewFunc(left, right), -1);
    EXPECT_EQ(TV_Func::SortViewFunc(below, right), 1);
    EXPECT_EQ(TV_Func::SortViewFunc(left, left), 0);

    TV_Func::setEnabledToAllSubViewsOfView(false, &root);
    EXPECT_FALSE(inner->isEnabled());
}

TEST(Views, TagsStackingAndMembership) {
    QWidget root;
    root.resize(120, 10);
    kdui::setTag(&root, 5);
    auto* x = child(&root, {0, 0, 40, 30});
    auto* y = child(&root, {0, 0, 40, 20});
    auto* deep = child(y, {0, 0, 5, 5});
    kdui::setTag(deep, 9);
    EXPECT_EQ(itemInViewFromTag(&root, 5), &root);
    EXPECT_EQ(itemInViewFromTag(&root, 9), deep);
    EXPECT_EQ(itemInViewFromTag(&root, 0), nullptr); // untagged views have no tag 0
    EXPECT_EQ(itemInViewFromTag(nullptr, 9), nullptr);

    layoutViews({x, nullptr, y}, &root, 0);
    EXPECT_EQ(root.size(), QSize(120, 50));
    EXPECT_EQ(x->pos(), QPoint(0, 0));
    EXPECT_EQ(y->pos(), QPoint(0, 30));
    layoutViews({x, y}, &root, 80);
    EXPECT_EQ(root.height(), 80);
    EXPECT_EQ(lengthOfViews({x, y}, true), 80);

    auto loose = std::make_unique<QWidget>();
    EXPECT_FALSE(isAddedView(&root, loose.get()));
    addViewInParentView(&root, loose.get());
    EXPECT_TRUE(isAddedView(&root, loose.get()));
    removeViewInParentView(&root, loose.get());
    EXPECT_EQ(loose->parentWidget(), nullptr);
    removeViewInParentView(&root, deep); // not a direct subview
    EXPECT_EQ(deep->parentWidget(), y);

    setHiddenForViews({x, y}, true);
    EXPECT_TRUE(x->isHidden());
}

TEST(Menus, TagsSelectionAndItems) {
    QPushButton popup;
    auto* menu = new QMenu(&popup);
    popup.setMenu(menu);
    for (int tag : {1, 2, 4, 5}) TV_Func::addMenuItem(&popup, QString::number(tag), tag);
    ASSERT_EQ(menu->actions().size(), 4);

    TV_Func::menuItemSelect(menu, 3, 1, 5); // tag 3 is missing
    for (QAction* a : menu->actions()) EXPECT_FALSE(a->isChecked());
    TV_Func::menuItemSelect(menu, 4, 1, 5);
    for (QAction* a : menu->actions()) EXPECT_EQ(a->isChecked(), kdui::tag(a) == 4);
    TV_Func::menuItemSelect(menu, 1, 5, 1); // last below first: nothing
    EXPECT_TRUE(TV_Func::menuItemWithTag(menu, 4)->isChecked());

    TV_Func::changeMenuItemWithTag(&popup, std::nullopt, 5, std::nullopt, QVariant("object"));
    EXPECT_EQ(TV_Func::menuItemWithTag(menu, 5)->text(), "5");
    EXPECT_EQ(TV_Func::menuItemWithTag(menu, 5)->data(), QVariant("object"));
    TV_Func::changeMenuItemAtIndex(&popup, QString("first"), 0);
    EXPECT_EQ(menu->actions()[0]->text(), "first");

    TV_Func::setEnabledItemWithTag(false, 2, menu);
    TV_Func::setEnabledItemWithTag(false, 3, menu); // missing: nothing
    TV_Func::setEnabledItemWithIndex(false, 9, menu);
    EXPECT_FALSE(TV_Func::menuItemWithTag(menu, 2)->isEnabled());
    EXPECT_TRUE(TV_Func::menuItemWithTag(menu, 1)->isEnabled());

    int fired = 0;
    TV_Func::setAction([&] { ++fired; }, nullptr, 0, menu);
    TV_Func::setAction([&] { fired += 10; }, nullptr, 0, menu);
    menu->actions()[0]->trigger();
    EXPECT_EQ(fired, 10);

    QWidget noMenu;
    EXPECT_EQ(TV_Func::addMenuItem(&noMenu, QString("x"), 1), nullptr);

    QWidget buttons;
    auto* b1 = new QPushButton(&buttons);
    auto* b2 = new QPushButton(&buttons);
    kdui::setTag(b1, 1);
    kdui::setTag(b2, 2);
    TV_Func::viewItemSelect(&buttons, 2, 1, 3);
    EXPECT_FALSE(b1->isChecked());
    EXPECT_TRUE(b2->isChecked());
}

TEST(RightToLeft, MirrorsOnceWithTheSliderException) {
    kdtest::TempHome home;
    UiBundle bundle(home.root() / "App", {"en", "ar"});
    home.env().set("LANGUAGE", std::nullopt);
    home.env().set("LC_ALL", std::string("en_US"));

    QWidget root;
    root.resize(300, 200);
    auto* label = static_cast<QLabel*>(child(&root, {10, 10, 100, 20}, new QLabel("text")));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* centred = static_cast<QLabel*>(child(&root, {10, 40, 100, 20}, new QLabel("c")));
    centred->setAlignment(Qt::AlignCenter);
    auto* edit = static_cast<QLineEdit*>(child(&root, {120, 10, 100, 20}, new QLineEdit));
    edit->setAlignment(Qt::AlignRight);
    auto* slider = new TvSlider(Qt::Vertical);
    child(&root, {250, 50, 20, 100}, slider);
    slider->setTickPosition(QSlider::TicksLeft);
    auto* table = static_cast<QTableWidget*>(child(&root, {10, 70, 230, 120}, new QTableWidget(2, 3)));
    for (int c = 0; c < 3; ++c) table->setColumnWidth(c, 60);
    table->setHorizontalHeaderItem(0, new QTableWidgetItem("h0"));
    table->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft);

    layoutLeftToRight(&root); // left-to-right: nothing
    EXPECT_EQ(label->x(), 10);
    EXPECT_EQ(root.layoutDirection(), Qt::LeftToRight);

    home.env().set("LC_ALL", std::string("ar_EG.UTF-8"));
    root.show();
    const int col0Before = table->visualRect(table->model()->index(0, 0)).x();
    const int col2Before = table->visualRect(table->model()->index(0, 2)).x();
    ASSERT_LT(col0Before, col2Before);
    layoutLeftToRight(&root);
    QApplication::processEvents();

    EXPECT_EQ(label->geometry(), QRect(190, 10, 100, 20));
    EXPECT_EQ(label->alignment(), Qt::AlignRight | Qt::AlignAbsolute | Qt::AlignVCenter);
    EXPECT_EQ(centred->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter | Qt::AlignAbsolute);
    EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft | Qt::AlignAbsolute);
    EXPECT_EQ(edit->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(edit->x(), 80);

    EXPECT_EQ(slider->layoutDirection(), Qt::LeftToRight);
    EXPECT_EQ(slider->tickPosition(), QSlider::TicksRight);
    EXPECT_EQ(slider->x(), 30);

    // Columns appear reversed by the direction alone; the logical order stays.
    EXPECT_EQ(table->x(), 60);
    EXPECT_GT(table->visualRect(table->model()->index(0, 0)).x(),
              table->visualRect(table->model()->index(0, 2)).x());
    EXPECT_EQ(table->horizontalHeader()->visualIndex(0), 0);
    EXPECT_EQ(Qt::Alignment(table->horizontalHeaderItem(0)->textAlignment()) & Qt::AlignHorizontal_Mask,
              Qt::AlignRight | Qt::AlignAbsolute);
    EXPECT_EQ(table->viewport()->geometry().width() > 0, true);
}

TEST(Images, ProviderMirroringAndSizes) {
    kdtest::TempHome home;
    UiBundle bundle(home.root() / "App");
    QImage arrow(2, 1, QImage::Format_RGB32);
    arrow.setPixel(0, 0, qRgb(255, 0, 0));
    arrow.setPixel(1, 0, qRgb(0, 0, 255));
    ASSERT_TRUE(arrow.save(QString::fromStdString((home.root() / "App/Resources/btn_arrow_L.png").string())));

    const QImage flipped = flipHorizontalImage("btn_arrow_L");
    ASSERT_EQ(flipped.size(), QSize(2, 1));
    EXPECT_EQ(flipped.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_TRUE(flipHorizontalImage("absent").isNull());

    EXPECT_EQ(fileIcnImage((home.root() / "App").string()), nullptr); // no provider yet
    installQtImageProvider();
    EXPECT_NE(fileIcnImage((home.root() / "App").string()), nullptr);
    EXPECT_EQ(fileIcnImage((home.root() / "absent").string()), nullptr);
    EXPECT_NE(defaultOSFolderIcnImage(), nullptr);
    const ImageRef loaded = imageProvider()->bundleImage("btn_arrow_L");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->width(), 2);
    EXPECT_FALSE(iconOf(loaded).isNull());
    setImageProvider(nullptr);

    EXPECT_EQ(sizeForPreviewFitImage({400, 200}, {100, 100}), QSizeF(100, 50));
    EXPECT_EQ(sizeForPreviewFitImage({40, 20}, {100, 100}), QSizeF(40, 20));
    EXPECT_EQ(resizeKeepRatio({40, 20}, {100, 100}), QSizeF(100, 50));
    EXPECT_EQ(resizeKeepRatio({1000, 1}, {10, 10}), QSizeF(10, 1));
    EXPECT_EQ(resizeKeepRatio({0, 20}, {100, 100}), QSizeF(0, 20));
    EXPECT_EQ(colorWithDeviceWithComp(nullptr), QColor(Qt::white));
    const float comps[] = {1, 0, 0, 0.5f};
    EXPECT_EQ(colorWithDeviceWithComp(comps).redF(), 1.0);
    EXPECT_EQ(frameWidthFitString("", QFont(), 1.0), 0);
    EXPECT_GT(frameWidthFitString("wide text", QFont(), 1.0), frameWidthFitString("w", QFont(), 1.0));
}

} // namespace

int main(int argc, char** argv) {
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", std::string("offscreen"));
    fs::permissions(home.root() / "run", fs::perms::owner_all, fs::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

#include "qlrutilsui_test.moc"
