#include "PrintOperation.h"

#include "PluginKit.h"
#include "ui_PrintProgressWindow.h"

#include <desktop/Print.h>
#include <foundation/UserFolders.h>

#include <QApplication>
#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace sendvia_printer {
namespace {

std::atomic<long long> gTimeoutMs{kdd::print::kDefaultTimeout.count()};

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// The progress window of the run, when there is an application to show it.
class ProgressWindow {
public:
    ProgressWindow(bool shown, QWidget* parent, int pages) {
        if (!shown || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
        window_ = std::make_unique<QWidget>(parent, Qt::Dialog);
        ui_ = std::make_unique<Ui::PrintProgressWindow>();
        ui_->setupUi(window_.get());
        window_->setWindowTitle(QString::fromStdString(kdkit::localized("PrintProgress_Title")));
        ui_->progressBar->setRange(0, pages);
        window_->show();
        QCoreApplication::processEvents();
    }
    void page(int done, int pages) {
        if (!window_) return;
        ui_->progressLabel->setText(QString::fromStdString(kdkit::localized("PrintProgress_Page"))
                                       .arg(done + 1)
                                       .arg(pages));
        ui_->progressBar->setValue(done);
        QCoreApplication::processEvents();
    }
    void sending() {
        if (!window_) return;
        ui_->progressLabel->setText(QString::fromStdString(kdkit::localized("PrintProgress_Sending")));
        ui_->progressBar->setValue(ui_->progressBar->maximum());
        QCoreApplication::processEvents();
    }

private:
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<Ui::PrintProgressWindow> ui_;
};

// A file made here that goes when the run ends, printed or not.
struct TemporaryFile {
    std::string path;
    int fd = -1;
    ~TemporaryFile() {
        if (fd >= 0) ::close(fd);
        if (!path.empty()) ::unlink(path.c_str());
    }
};

} // namespace

PrintOperation::PrintOperation(kdkit::RenderingView& view, PrintInfo info) : view_(view), info_(std::move(info)) {}

void PrintOperation::setTimeout(std::chrono::milliseconds timeout) { gTimeoutMs = timeout.count(); }
std::chrono::milliseconds PrintOperation::timeout() { return std::chrono::milliseconds(gTimeoutMs.load()); }

bool PrintOperation::runOperation(std::string* error) {
    int first = 1, length = 0;
    if (!view_.knowsPageRange(&first, &length) || length <= 0) {
        setError(error, "no pages to print");
        return false;
    }
    int last = first + length - 1;
    if (!info_.allPages) {
        first = std::max(first, info_.firstPage);
        last = std::min(last, info_.lastPage);
    }
    if (first > last) {
        setError(error, "the page range holds none of the pages");
        return false;
    }

    std::string folderError;
    const std::optional<std::string> folder = kdf::userTemporaryFolder(&folderError);
    if (!folder) {
        setError(error, "no private temporary folder: " + folderError);
        return false;
    }
    TemporaryFile document;
    const std::string pattern = *folder + "/print-XXXXXX.pdf";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkostemps creates the file with O_EXCL: nothing planted is written to.
    document.fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (document.fd < 0) {
        setError(error, "cannot create the print document in " + *folder);
        return false;
    }
    document.path = name.data();
    const int fd = document.fd;
    document.fd = -1; // the writer's file closes it
    if (!writeDocument(fd, first, last, error)) return false;

    kdd::print::JobOptions options;
    options.title = jobTitle_;
    options.copies = info_.copies;
    options.media = info_.paper.name;
    return kdd::print::printPdfFile(info_.printerName, document.path, options, timeout(), error);
}

bool PrintOperation::writeDocument(int fd, int firstPage, int lastPage, std::string* error) {
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        setError(error, "cannot write the print document");
        return false;
    }
    const int pages = lastPage - firstPage + 1;
    ProgressWindow progress(showsProgressPanel_, parent_, pages);
    bool painted = true;
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("Quillora"));
        writer.setTitle(QString::fromStdString(jobTitle_));
        // One unit is one point, from the paper's corner.
        writer.setResolution(72);
        QPageLayout layout(QPageSize(info_.paperSize(), QPageSize::Point, QString(), QPageSize::ExactMatch),
                           QPageLayout::Portrait, QMarginsF(), QPageLayout::Point);
        layout.setMode(QPageLayout::FullPageMode);
        if (!writer.setPageLayout(layout)) {
            setError(error, "the paper size cannot be used");
            return false;
        }
        const kdkit::RenderingPrintSettings settings = info_.renderingSettings();
        view_.beginDocument();
        QPainter painter;
        if (!painter.begin(&writer)) {
            setError(error, "cannot paint the print document");
            painted = false;
        }
        for (int page = firstPage; painted && page <= lastPage; ++page) {
            progress.page(page - firstPage, pages);
            if (page > firstPage && !writer.newPage()) {
                setError(error, "cannot add a page to the print document");
                painted = false;
                break;
            }
            view_.rectForPage(page);
            view_.drawRect(painter, settings);
        }
        if (painter.isActive() && !painter.end() && painted) {
            setError(error, "cannot finish the print document");
            painted = false;
        }
        view_.endDocument();
    }
    progress.sending();
    if (!painted) return false;
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        setError(error, "cannot write the print document");
        return false;
    }
    file.close();
    return true;
}

} // namespace sendvia_printer
