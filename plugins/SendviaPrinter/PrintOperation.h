// One print run of the rendering view: the view paints page after page into
// a PDF document of the paper's size in the user's private temporary
// folder, the document goes to the printer as one job with the copies and
// the paper, and is removed. A small progress window shows the pages while
// the view paints.
#pragma once

#include "PrintInfo.h"
#include "RenderingView.h"

#include <chrono>
#include <string>

class QWidget;

namespace sendvia_printer {

class PrintOperation {
public:
    PrintOperation(kdkit::RenderingView& view, PrintInfo info);

    void setShowsProgressPanel(bool shows) { showsProgressPanel_ = shows; }
    void setParentWindow(QWidget* parent) { parent_ = parent; }
    void setJobTitle(std::string title) { jobTitle_ = std::move(title); }

    // False, with the reason in *error, when nothing or not all was
    // printed: no page in the range, the document could not be written, or
    // the printer did not take it.
    bool runOperation(std::string* error = nullptr);

    // How long a printer may keep a connection or request waiting.
    static void setTimeout(std::chrono::milliseconds timeout);
    static std::chrono::milliseconds timeout();

private:
    bool writeDocument(int fd, int firstPage, int lastPage, std::string* error);

    kdkit::RenderingView& view_;
    PrintInfo info_;
    QWidget* parent_ = nullptr;
    bool showsProgressPanel_ = true;
    std::string jobTitle_ = "Scan";
};

} // namespace sendvia_printer
