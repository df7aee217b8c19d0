// Screenshot scenes of the application's alert: each style's image, one and
// three buttons, a long text that wraps, in both directions.
#include "TvAlert.h"

#include <ui/Screenshots.h>

namespace {

std::vector<QWidget*> alertScene(int style, const QString& message, const QString& informative,
                                 const QStringList& buttons) {
    auto* alert = new TvAlert;
    alert->setAlertStyle(style);
    alert->setMessageText(message);
    alert->setInformativeText(informative);
    for (const QString& title : buttons) alert->addButtonWithTitle(title);
    alert->layoutAlertParts();
    alert->move(0, 0);
    return {alert};
}

} // namespace

KD_SCREENSHOT_SCENE(alertCriticalOneButton, "kit/alert-critical-one-button", kdui::Direction::Both) {
    return alertScene(2, QStringLiteral("Error"), QStringLiteral("The file could not be written."),
                      {QStringLiteral("OK")});
}

KD_SCREENSHOT_SCENE(alertWarningOneButton, "kit/alert-warning-one-button", kdui::Direction::Both) {
    return alertScene(0, QStringLiteral("Error"), QStringLiteral("No input panel is selected."),
                      {QStringLiteral("OK")});
}

KD_SCREENSHOT_SCENE(alertInformationalThreeButtons, "kit/alert-informational-three-buttons",
                    kdui::Direction::Both) {
    return alertScene(1, QStringLiteral("Confirm"),
                      QStringLiteral("Settings of an earlier version were found. Import them now?"),
                      {QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel")});
}

KD_SCREENSHOT_SCENE(alertNoImageLongText, "kit/alert-no-image-long-text", kdui::Direction::Both) {
    return alertScene(
        3, QStringLiteral("Error"),
        QStringLiteral("The file \"/home/user/Documents/Scans/2026/December/invoice_scan_000123456789_final.pdf\" "
                       "could not be written: <b>100%</b> of the disk is in use."),
        {QStringLiteral("Delete the other pages"), QStringLiteral("Keep everything"),
         QStringLiteral("Cancel this scan now")});
}
