#include "PrinterController.h"

#include "ErrorAlert.h"
#include "PluginFunc.h"
#include "PrintOperation.h"
#include "PrintPanel.h"

#include <desktop/Print.h>
#include <foundation/Exception.h>

#include <plugin/TvQLRPlugin.h>

#include <QApplication>
#include <QImageReader>
#include <QLocale>

#include <exception>

namespace sendvia_printer {
namespace {

constexpr const char* kNotFoundIDException = "NotFoundIDException";
constexpr const char* kNotFoundPrinter = "Err_NotFoundPrinter";
constexpr const char* kPrintFailed = "Err_PrintFailed";
constexpr const char* kNotFoundFiles = "Err_NotFoundFilesForSendException";

// The options of the panel: copies, page range, paper size, orientation and
// scaling.
constexpr int kPanelOptions = kPrintPanelShowsCopies | kPrintPanelShowsPageRange | kPrintPanelShowsPaperSize |
                              kPrintPanelShowsOrientation | kPrintPanelShowsScaling;

void showError(const char* key, QWidget* parentWindow) {
    kdkit::ErrorAlert::showAlertWithErrKey(key, kdkit::kAlertTitleError, {{std::string("OK")}}, parentWindow);
}

// The paper a printer that cannot be asked is set up with.
kdd::print::Media localPaper() {
    if (QLocale::system().measurementSystem() == QLocale::ImperialUSSystem)
        return {"na_letter_8.5x11in", 612, 792, 0, 0, 0, 0};
    return {"iso_a4_210x297mm", 210 * 72 / 25.4, 297 * 72 / 25.4, 0, 0, 0, 0};
}

} // namespace

std::optional<PrintInfo> storedPrintInfo(const kdf::Dictionary& user) {
    const kdf::Value* stored = kdf::find(user, kPrintInfoDictKey);
    if (!stored || !stored->bytes()) return std::nullopt;
    const std::optional<kdf::Value> decoded = kdkit::PluginFunc::decodeDataToDict(*stored->bytes());
    const kdf::Dictionary* dictionary = decoded ? decoded->dictionary() : nullptr;
    if (!dictionary) return std::nullopt;
    return PrintInfo::fromDictionary(*dictionary);
}

int storedLayoutType(const kdf::Dictionary& user) {
    const kdf::Value* stored = kdf::find(user, kPrintLayoutTypeKey);
    const std::optional<std::int64_t> type = stored ? stored->toInteger() : std::nullopt;
    return type && *type == kPageLayoutRealSize ? kPageLayoutRealSize : kPageLayoutPaperFit;
}

TvSendviaPrinterPluginWindowController::TvSendviaPrinterPluginWindowController(kdkit::UserRef user)
    : _PrintPanelAccessoryView(std::make_unique<AccessoryView>()), mCurrentUser(std::move(user)) {}

TvSendviaPrinterPluginWindowController::~TvSendviaPrinterPluginWindowController() = default;

void TvSendviaPrinterPluginWindowController::setupData(kdf::Dictionary& user) {
    const std::chrono::milliseconds timeout = PrintOperation::timeout();
    if (const std::optional<kdd::print::Destination> printer = kdd::print::defaultDestination(timeout)) {
        const std::optional<kdd::print::MediaList> media = kdd::print::destinationMedia(printer->name, timeout);
        const kdd::print::Media paper = media && media->defaultMedia ? *media->defaultMedia : localPaper();
        if (std::optional<kdf::Bytes> data =
                kdkit::PluginFunc::encodeDictToData(kdf::Value(PrintInfo::forDestination(printer->name, paper).dictionary())))
            user[kPrintInfoDictKey] = std::move(*data);
    }
    user[kPrintLayoutTypeKey] = kPageLayoutPaperFit;
}

std::optional<std::string> TvSendviaPrinterPluginWindowController::summaryString() {
    if (!mCurrentUser) return std::string();
    const std::optional<PrintInfo> info = storedPrintInfo(*mCurrentUser);
    return info ? info->printerName : std::string();
}

std::int32_t TvSendviaPrinterPluginWindowController::clickedLink() {
    return std::int32_t(kTvSvPluginFailClickedLink);
}

int TvSendviaPrinterPluginWindowController::runModal(QWidget* parentWindow, bool) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    const std::chrono::milliseconds timeout = PrintOperation::timeout();
    PrintPanel panel(kdd::print::destinations(timeout),
                     [timeout](const std::string& destination) {
                         return kdd::print::destinationMedia(destination, timeout);
                     },
                     parentWindow);
    TvAccessoryViewController accessory(_PrintPanelAccessoryView.get());
    int result = 0;
    try {
        std::optional<PrintInfo> info = mCurrentUser ? storedPrintInfo(*mCurrentUser) : std::nullopt;
        if (!info) throw kdf::Exception(kNotFoundPrinter);
        if (kdf::find(*mCurrentUser, kPrintLayoutTypeKey))
            _PrintPanelAccessoryView->selectItemWithTag(storedLayoutType(*mCurrentUser));
        panel.addAccessoryController(&accessory);
        panel.setOptions(kPanelOptions);
        result = panel.runModalWithPrintInfo(*info);
        if (result == 1) {
            std::optional<kdf::Bytes> data = kdkit::PluginFunc::encodeDictToData(kdf::Value(info->dictionary()));
            if (!data) throw kdf::Exception(kNotFoundPrinter);
            (*mCurrentUser)[kPrintInfoDictKey] = std::move(*data);
            (*mCurrentUser)[kPrintLayoutTypeKey] = _PrintPanelAccessoryView->selectedItemTag();
        }
    } catch (const kdf::Exception&) {
        panel.removeAccessoryController(&accessory);
        showError(kNotFoundPrinter, parentWindow);
        throw;
    } catch (...) {
        panel.removeAccessoryController(&accessory);
        throw;
    }
    panel.removeAccessoryController(&accessory);
    return result;
}

QImage TvSendviaPrinterPluginWindowController::readPrintImage(int pageIndex) {
    if (pageIndex < 0 || std::size_t(pageIndex) >= mPrintImageList.size()) return {};
    const std::string& path = mPrintImageList[std::size_t(pageIndex)];
    if (!kdkit::PluginFunc::isExistsFile(path)) return {};
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // A header that promises more than the limit is not read at all.
    if (!size.isValid() || std::int64_t(size.width()) * size.height() * 4 > kMaxPageImageBytes) return {};
    QImage image;
    if (!reader.read(&image)) return {};
    return image;
}

void TvSendviaPrinterPluginWindowController::print(const std::vector<std::string>& files, QWidget* parentWindow) {
    if (!mCurrentUser) throw kdf::Exception(kNotFoundIDException);
    mPrintImageList = files;
    if (mPrintImageList.empty()) throw kdf::Exception(kNotFoundFiles);
    const int layout = storedLayoutType(*mCurrentUser);
    const std::optional<PrintInfo> info = storedPrintInfo(*mCurrentUser);
    if (!info) throw kdf::Exception(kPrintFailed, "no usable print settings");
    const QSizeF paper = info->paperSize();
    if (!(paper.width() > 0 && paper.height() > 0)) throw kdf::Exception(kPrintFailed, "no paper size");
    kdkit::RenderingView view(QRectF(QPointF(0, 0), paper));
    view.setIsPageFit(layout == kPageLayoutPaperFit);
    view.setPrintCount(int(std::min<std::size_t>(mPrintImageList.size(), std::size_t(INT32_MAX))));
    view.setDelegate(this);
    PrintOperation operation(view, *info);
    operation.setShowsProgressPanel(true);
    operation.setParentWindow(parentWindow);
    std::string reason;
    if (!operation.runOperation(&reason)) throw kdf::Exception(kPrintFailed, reason);
}

std::int32_t TvSendviaPrinterPluginWindowController::executeOperation(const std::vector<std::string>& files,
                                                                      bool fileDelete, QWidget* parentWindow) {
    std::int32_t result = kTvSvPluginSuccess;
    std::exception_ptr unexpected;
    try {
        print(files, parentWindow);
    } catch (const kdf::Exception& e) {
        showError(kPrintFailed, parentWindow);
        result = e.name() == kNotFoundIDException ? kTvSvPluginNotFoundID : kTvSvPluginFailSend;
    } catch (...) {
        unexpected = std::current_exception();
    }
    // The files are the application's copies: they go, printed or not.
    if (fileDelete)
        for (const std::string& path : mPrintImageList)
            if (kdkit::PluginFunc::isExistsFile(path)) kdkit::PluginFunc::isRemoveFile(path);
    if (unexpected) std::rethrow_exception(unexpected);
    return result;
}

} // namespace sendvia_printer
