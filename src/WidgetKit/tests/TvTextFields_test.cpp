#include "KitTestSupport.h"
#include "TvButtons.h"
#include "TvTextFields.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QSlider>
#include <QStyle>

#include <memory>
#include <string>
#include <vector>

namespace {

using Counting = TvInputFilter::Counting;

// Five Arabic letters, the first three carrying a fatha: 8 UTF-16 units.
const QString kArabicWord = QString::fromUtf16(u"\u0643\u064E\u062A\u064E\u0628\u064E\u0627\u0644");

void type(QWidget* target, const QString& text) {
    QKeyEvent event(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(target, &event);
}

void pasteKey(QWidget* target) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
    QApplication::sendEvent(target, &event);
}

TEST(InputFilter, Table) {
    struct Case {
        const char* name;
        enum { None, Valid, Invalid } set;
        const char16_t* chars;
        int limit;
        Counting counting;
        bool rtl;
        QString current;
        int replaced;
        QString replacement;
        bool allowed;
    };
    const Case cases[] = {
        {"no set: no length check", Case::None, u"", 8, Counting::Plain, false, QString(20, u'x'), 0,
         QStringLiteral("abc"), true},
        {"valid digits", Case::Valid, u"0123456789", 0, Counting::Plain, false, QStringLiteral("1"), 0,
         QStringLiteral("23"), true},
        {"invalid among valid refused whole", Case::Valid, u"0123456789", 0, Counting::Plain, false, QString(), 0,
         QStringLiteral("12a"), false},
        {"invalid set", Case::Invalid, u"/:", 0, Counting::Plain, false, QStringLiteral("ab"), 0,
         QStringLiteral("c:d"), false},
        {"deleting down to the limit", Case::Invalid, u"/:", 3, Counting::Plain, false, QStringLiteral("abcd"), 1,
         QString(), true},
        {"limit 0 allows", Case::Invalid, u"", 0, Counting::Plain, false, QString(50, u'x'), 0,
         QStringLiteral("y"), true},
        {"at the limit", Case::Invalid, u"", 4, Counting::Plain, false, QStringLiteral("abc"), 0, QStringLiteral("d"),
         true},
        {"over the limit", Case::Invalid, u"", 4, Counting::Plain, false, QStringLiteral("abcd"), 0,
         QStringLiteral("e"), false},
        {"replacing keeps the length", Case::Invalid, u"", 4, Counting::Plain, false, QStringLiteral("abcd"), 2,
         QStringLiteral("xy"), true},
        {"marks not counted right to left", Case::Invalid, u"", 6, Counting::WithoutMarksInRightToLeft, true,
         kArabicWord, 0, QString(u'\u0627'), true},
        {"marks counted left to right", Case::Invalid, u"", 6, Counting::WithoutMarksInRightToLeft, false,
         kArabicWord, 0, QString(u'\u0627'), false},
        {"marks counted in a combo box", Case::Invalid, u"", 8, Counting::Plain, true, kArabicWord, 0,
         QString(u'\u0627'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TvInputFilter filter;
        if (c.set == Case::Valid) filter.setValidCharsInString(QString::fromUtf16(c.chars));
        if (c.set == Case::Invalid) filter.setInvalidCharsInString(QString::fromUtf16(c.chars));
        filter.setValidLength(c.limit);
        EXPECT_EQ(filter.allows(c.current, c.replaced, c.replacement, c.counting, c.rtl), c.allowed);
    }
}

TEST(InputFilter, DependentCharacters) {
    EXPECT_EQ(TV_FTextField::lengthRemoveDependentChar(kArabicWord), 5);
    // The first character always counts; U+06DD and U+06E9 are characters.
    EXPECT_EQ(TV_FTextField::lengthRemoveDependentChar(QString::fromUtf16(u"\u064B\u064B")), 1);
    EXPECT_EQ(TV_FTextField::lengthRemoveDependentChar(QString::fromUtf16(u"a\u06DD\u06E9\u06ED\u0670")), 3);
}

TEST(TextField, TypingAndPastingPassTheFilter) {
    TV_FTextField field;
    field.setValidCharsInString(QStringLiteral("0123456789"));
    field.setValidLength(4);
    field.show();
    type(&field, QStringLiteral("1"));
    type(&field, QStringLiteral("x"));
    EXPECT_EQ(field.text(), QStringLiteral("1"));
    QGuiApplication::clipboard()->setText(QStringLiteral("12a"));
    pasteKey(&field);
    EXPECT_EQ(field.text(), QStringLiteral("1")) << "refused as a whole";
    QGuiApplication::clipboard()->setText(QStringLiteral("234"));
    pasteKey(&field);
    EXPECT_EQ(field.text(), QStringLiteral("1234"));
    type(&field, QStringLiteral("5"));
    EXPECT_EQ(field.text(), QStringLiteral("1234"));
    // Code may set anything, and the user's next edit is still filtered.
    field.setText(QStringLiteral("abcdef"));
    EXPECT_EQ(field.text(), QStringLiteral("abcdef"));
    type(&field, QStringLiteral("7"));
    EXPECT_EQ(field.text(), QStringLiteral("abcdef"));
    // Return still finishes the edit of such a text.
    int finished = 0;
    QObject::connect(&field, &QLineEdit::returnPressed, [&] { ++finished; });
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&field, &enter);
    EXPECT_EQ(finished, 1);
}

TEST(TextField, NoSetAcceptsAnyLength) {
    TV_FTextField field;
    field.setValidLength(8);
    field.show();
    QGuiApplication::clipboard()->setText(QString(30, u'z'));
    pasteKey(&field);
    EXPECT_EQ(field.text().size(), 30);
}

TEST(TextField, ArabicMarksInAFieldAndAComboBox) {
    kittest::RightToLeft rtl;
    TV_FTextField field;
    field.setInvalidCharsInString(QString());
    field.setValidLength(6);
    field.setText(kArabicWord);
    field.show();
    type(&field, QString(u'\u0627'));
    EXPECT_EQ(field.text().size(), 9) << "counts 5 + 1";
    type(&field, QString(u'\u0627'));
    EXPECT_EQ(field.text().size(), 9) << "counts 6 + 1: refused";

    TV_FComboBox combo;
    combo.setInvalidCharsInString(QString());
    combo.setValidLength(8);
    combo.setEditText(kArabicWord);
    combo.show();
    type(combo.lineEdit(), QString(u'\u0627'));
    EXPECT_EQ(combo.currentText(), kArabicWord) << "a combo box counts 8";
}

TEST(TextField, RefusalDuringInputMethodTextDropsItAndReportsTheText) {
    TV_FTextField field;
    field.setInvalidCharsInString(QString());
    field.setValidLength(3);
    field.setText(QStringLiteral("12"));
    field.show();
    std::vector<QString> edited;
    QObject::connect(&field, &QLineEdit::textEdited, [&](const QString& t) { edited.push_back(t); });

    QInputMethodEvent preedit(QStringLiteral("456"), {});
    QApplication::sendEvent(&field, &preedit);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("456"));
    QApplication::sendEvent(&field, &commit);
    EXPECT_EQ(field.text(), QStringLiteral("12"));
    EXPECT_EQ(edited, std::vector<QString>{QStringLiteral("12")});

    // Without marked text a refusal reports nothing.
    edited.clear();
    type(&field, QStringLiteral("34"));
    EXPECT_EQ(field.text(), QStringLiteral("12"));
    EXPECT_TRUE(edited.empty());
}

TEST(FramedField, FrameColours) {
    QWidget window;
    QPalette p = window.palette();
    p.setColor(QPalette::Window, QColor(0x20, 0x40, 0x60));
    window.setPalette(p);
    auto* field = new TvTextField(&window);
    field->setGeometry(10, 10, 120, 24);
    auto* other = new QLineEdit(&window);
    other->setGeometry(10, 50, 120, 24);
    window.show();
    window.activateWindow();
    other->setFocus();
    QApplication::processEvents();
    auto frameAt = [&] {
        return kittest::rgbAt(field->grab().toImage().convertToFormat(QImage::Format_ARGB32), 0, 12);
    };
    EXPECT_EQ(frameAt(), 0x204060u) << "the window's colour";
    field->setFrameColor(QColor(0xC0, 0x10, 0x10));
    EXPECT_EQ(frameAt(), 0xC01010u);
    field->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(frameAt(), TvUI::kFocusRGB);
}

TEST(StaticText, EnablingFollowsTheRelatedControl) {
    QWidget window;
    auto* box = new QWidget(&window);
    auto* button = new QPushButton(box);
    auto* slider = new QSlider(&window);
    auto* plain = new QWidget(&window);
    auto* segmented = new TvSegmentedControl(&window);
    struct Case {
        const char* name;
        QWidget* related;
        bool relatedEnabled;
        bool expected;
    };
    const Case cases[] = {
        {"none", nullptr, true, true},
        {"enabled button", button, true, true},
        {"disabled button", button, false, false},
        {"disabled slider", slider, false, false},
        {"enabled slider", slider, true, true},
        {"plain widget", plain, true, false},
        {"segmented control", segmented, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* label = new TvStaticTextField(box); // nested: the walk reaches it
        label->setRelatedObject(c.related);
        if (c.related) c.related->setEnabled(c.relatedEnabled);
        TvStaticTextField::syncStaticTextInView(&window);
        EXPECT_EQ(label->isEnabled(), c.expected);
        EXPECT_NEAR(TvStaticTextFieldCell::color(label->isEnabled()).alphaF(), c.expected ? 1.0 : 0.3, 0.01);
        delete label;
    }
}

TEST(StaticText, RelatedObjectNamedInTheForm) {
    QWidget window;
    auto* combo = new QComboBox(&window);
    combo->setObjectName(QStringLiteral("modeCombo"));
    combo->setEnabled(false);
    auto* label = new TvStaticTextField(&window);
    label->setProperty("kdRelatedObject", QStringLiteral("modeCombo"));
    window.show();
    EXPECT_EQ(label->relatedObject(), combo);
    label->syncEnableState();
    EXPECT_FALSE(label->isEnabled());
    delete combo;
    label->syncEnableState();
    EXPECT_TRUE(label->isEnabled()) << "the guarded pointer is cleared";
}

TEST(StaticText, LayoutWhenTheParentResizes) {
    QWidget window;
    window.resize(300, 100);
    auto* label = new TvStaticTextField(&window);
    label->setGeometry(0, 10, 50, 20);
    auto* control = new QLineEdit(&window);
    control->setGeometry(0, 8, 150, 24);
    label->setRelatedObject(control);
    window.show();
    QApplication::processEvents();

    window.resize(400, 100);
    QApplication::processEvents();
    EXPECT_EQ(label->geometry(), QRect(0, 10, 155, 20));
    EXPECT_EQ(control->geometry(), QRect(160, 8, 150, 24));

    // Overflowing: both give up the overflow plus the scroll bar's extent.
    control->resize(300, 24);
    window.resize(401, 100);
    QApplication::processEvents();
    const int extent = label->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, label);
    const int overflow = 161 + 300 - 401 + extent;
    EXPECT_EQ(control->x(), 161 - overflow);
    EXPECT_EQ(label->width(), 156 - overflow);

    // A parent under 90 pixels wide: widths stop at 0.
    label->setText(QString());
    label->setRelatedObject(nullptr);
    window.resize(60, 100);
    QApplication::processEvents();
    EXPECT_EQ(label->width(), 0);
}

TEST(LinkField, ClicksWhenVisibleAndEnabled) {
    TvOpenLinkTextField link;
    link.setText(QStringLiteral("Open folder"));
    int clicks = 0;
    QObject::connect(&link, &TvOpenLinkTextField::clicked, [&] { ++clicks; });
    auto press = [&] {
        QMouseEvent e(QEvent::MouseButtonPress, QPointF(2, 2), link.mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&link, &e);
    };
    press();
    EXPECT_EQ(clicks, 0) << "hidden";
    link.show();
    press();
    EXPECT_EQ(clicks, 1);
    link.setEnabled(false);
    press();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
