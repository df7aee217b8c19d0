// The plug-in's alert: texts from the plug-in's own bundle, a title word by
// style, up to three buttons answering 1, 0 and -1, run modally under the
// modal panel manager. Every text is shown as plain text, never as a
// format or markup.
#pragma once

#include <foundation/Exception.h>

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace kdkit {

// Title styles.
inline constexpr int kAlertTitleError = 0;
inline constexpr int kAlertTitleCaution = 1;
inline constexpr int kAlertTitleConfirm = 2;

// Answers.
inline constexpr int kAlertFirstButton = 1;
inline constexpr int kAlertSecondButton = 0;
inline constexpr int kAlertThirdButton = -1;

namespace ErrorAlert {

// Button-title keys: element 0 (the localised "OK" when missing), 1 and 2;
// a missing or empty title means no button.
using ButtonTitleKeys = std::optional<std::vector<std::optional<std::string>>>;

int showAlertWithErrKey(const std::string& errKey, int alertTitleStyle, const ButtonTitleKeys& btnTitleList,
                        QWidget* parentWindow);

// The Evernote build's alert: none shows "Error" with an empty text, one
// exception its reason; more than one shows nothing.
void runModalWithExceptionList(const std::vector<kdf::Exception>& exceptions, QWidget* parentWindow);

} // namespace ErrorAlert
} // namespace kdkit
