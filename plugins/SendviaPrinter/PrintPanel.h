// The print panel: printer, copies, page range, paper size, orientation and
// scaling, with the destination's accessory at its foot. It edits a copy of
// the print settings and gives them back on OK.
#pragma once

#include "PrintInfo.h"

#include <desktop/Print.h>

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class PrintPanel;
}

namespace sendvia_printer {

class TvAccessoryViewController;

// The panel's parts shown (the rest hidden), as flags.
inline constexpr int kPrintPanelShowsCopies = 1;
inline constexpr int kPrintPanelShowsPageRange = 2;
inline constexpr int kPrintPanelShowsPaperSize = 4;
inline constexpr int kPrintPanelShowsOrientation = 8;
inline constexpr int kPrintPanelShowsScaling = 16;

class PrintPanel : public QDialog {
    Q_OBJECT
public:
    // The media of a destination; none when it cannot be asked.
    using MediaSource = std::function<std::optional<kdd::print::MediaList>(const std::string& destination)>;

    // The destinations offered, and where their media come from.
    PrintPanel(std::vector<kdd::print::Destination> destinations, MediaSource mediaSource,
               QWidget* parent = nullptr);
    ~PrintPanel() override;

    void setOptions(int options);
    int options() const { return options_; }
    void addAccessoryController(TvAccessoryViewController* controller);
    void removeAccessoryController(TvAccessoryViewController* controller);
    const std::vector<TvAccessoryViewController*>& accessoryControllers() const { return accessories_; }

    // Shows the settings; the stored printer and paper are offered even
    // when no destination lists them.
    void setPrintInfo(const PrintInfo& info);
    // The settings as the panel shows them.
    PrintInfo printInfo() const;
    // Runs modally over the parent: 1 OK (info takes the panel's settings),
    // 0 Cancel (info unchanged).
    int runModalWithPrintInfo(PrintInfo& info);

private:
    void destinationChanged();
    void fillPaper(const std::optional<kdd::print::Media>& keep);

    std::unique_ptr<Ui::PrintPanel> ui_;
    std::vector<kdd::print::Destination> destinations_;
    MediaSource mediaSource_;
    std::vector<kdd::print::Media> media_; // the paper combo's entries, in order
    std::vector<TvAccessoryViewController*> accessories_;
    PrintInfo base_;
    int options_ = 0;
};

} // namespace sendvia_printer
