// The kit's text controls: line edits and combo boxes that filter what the
// user may type (characters and length, right-to-left text counted without
// its Arabic marks), bold labels that follow the control they describe, the
// dark title bands of the settings grid, the link field and the framed
// field.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QValidator>

#include <memory>

class OutputModel;

// The rules a field applies to one edit: the replaced range's length, the
// replacement and the text before the edit. Used by the fields' validator.
class TvInputFilter {
public:
    // Replaces the set by the string's characters (invalid ones).
    void setInvalidCharsInString(const QString& chars);
    // Everything but the string's characters is invalid.
    void setValidCharsInString(const QString& chars);
    void setValidLength(int length) { mValidLength = length; }
    int validLength() const { return mValidLength; }
    bool hasCharacterSet() const { return mHasSet; }
    bool isInvalid(char32_t c) const { return mInverted != mChars.contains(c); }

    enum class Counting { Plain, WithoutMarksInRightToLeft };
    // Whether replacing `replacedLength` units of `current` by `replacement`
    // may happen.
    bool allows(const QString& current, int replacedLength, const QString& replacement, Counting counting,
                bool rightToLeft) const;
    // Whether the replacement holds an invalid character.
    bool holdsInvalid(const QString& replacement) const;

private:
    QSet<char32_t> mChars;
    bool mHasSet = false;
    bool mInverted = false;
    int mValidLength = 0;
};

class TV_FTextField;

// The validator of a filtered field: recovers the replaced range and the
// replacement from the text before and after the edit. Only the field's own
// edits (typing, paste, drop, input method) are filtered.
class TvFilterValidator : public QValidator {
    Q_OBJECT
public:
    explicit TvFilterValidator(TV_FTextField* field);
    State validate(QString& input, int& pos) const override;

private:
    TV_FTextField* mField;
};

class TV_FTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit TV_FTextField(QWidget* parent = nullptr);
    ~TV_FTextField() override;

    void setInvalidCharsInString(const QString& chars) { mFilter.setInvalidCharsInString(chars); }
    void setValidCharsInString(const QString& chars) { mFilter.setValidCharsInString(chars); }
    void setValidLength(int length) { mFilter.setValidLength(length); }
    const TvInputFilter& filter() const { return mFilter; }

    // The length without Arabic marks at positions 1 and later.
    static int lengthRemoveDependentChar(const QString& text);
    // How the current text is counted: without marks in right-to-left
    // layout (the default), plainly for a combo box's editor.
    void setCounting(TvInputFilter::Counting counting) { mCounting = counting; }

    // Whether an edit from `before` to `after` may happen.
    bool allowsEdit(const QString& before, const QString& after) const;

protected:
    bool event(QEvent* event) override;

private:
    friend class TvFilterValidator;
    void refused() const;

    TvInputFilter mFilter;
    TvInputFilter::Counting mCounting = TvInputFilter::Counting::WithoutMarksInRightToLeft;
    QString mAccepted;        // the text before the edit under way
    int mUserEdit = 0;        // depth of user events being handled
    bool mMarked = false;     // an input method holds uncommitted text
    mutable bool mRefusedWhileMarked = false;
};

class TV_FComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TV_FComboBox(QWidget* parent = nullptr);

    void setInvalidCharsInString(const QString& chars) { mEditor->setInvalidCharsInString(chars); }
    void setValidCharsInString(const QString& chars) { mEditor->setValidCharsInString(chars); }
    void setValidLength(int length) { mEditor->setValidLength(length); }
    TV_FTextField* editor() const { return mEditor; }

private:
    TV_FTextField* mEditor;
};

// The framed field: a 1-pixel frame in #FFA200 while it has focus, else in
// its frame colour, else in the window's colour.
class TvTextField : public TV_FTextField {
    Q_OBJECT
public:
    explicit TvTextField(QWidget* parent = nullptr);

    QColor frameColor() const { return mFrameColor; }
    void setFrameColor(const QColor& color);
    // The colour the frame is stroked in now.
    QColor currentFrameColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor mFrameColor;
};

// The label look: bold system font of the label's size, black at alpha 1.0
// enabled and 0.3 disabled, the label's alignment and wrapping.
struct TvStaticTextFieldCell {
    static QFont font(const QFont& labelFont);
    static QColor color(bool enabled);
    static void draw(QPainter& painter, const QRect& rect, const QLabel& label, bool enabled);
};

// A bold label that follows the control it describes: enabled with it, laid
// out beside it when its parent resizes. In a form the dynamic property
// "kdRelatedObject" names the control (an object name in the same window).
class TvStaticTextField : public QLabel {
    Q_OBJECT
public:
    explicit TvStaticTextField(QWidget* parent = nullptr);
    ~TvStaticTextField() override;

    QWidget* relatedObject() const { return mRelatedObject; }
    void setRelatedObject(QWidget* object) { mRelatedObject = object; }

    // Enabled without a related object, mirroring an input control, and
    // disabled for any other widget.
    void syncEnableState();
    // Syncs every label in the view's tree.
    static void syncStaticTextInView(QWidget* view);
    // Lays the label and its control out for a parent of width `w`.
    void layoutForSuperviewWidth(int w);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void watchParent();

    QPointer<QWidget> mRelatedObject;
    QPointer<QWidget> mWatchedParent;
    bool mPolished = false;
};

// The dark title band of a settings grid.
class TvTitleTextField : public QLabel {
    Q_OBJECT
public:
    explicit TvTitleTextField(QWidget* parent = nullptr);
    bool isRounded() const { return mIsRounded; }
    void setIsRounded(bool rounded);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool mIsRounded = false;
};

// A label that acts like a link: the pointing-hand cursor, clicked() on a
// press while visible and enabled. Its receiver reads outputModel.
class TvOpenLinkTextField : public QLabel {
    Q_OBJECT
public:
    explicit TvOpenLinkTextField(QWidget* parent = nullptr);
    ~TvOpenLinkTextField() override;

    std::shared_ptr<OutputModel> outputModel() const { return mOutputModel; }
    void setOutputModel(std::shared_ptr<OutputModel> model) { mOutputModel = std::move(model); }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<OutputModel> mOutputModel;
};
