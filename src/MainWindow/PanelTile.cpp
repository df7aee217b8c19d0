#include "PanelTile.h"

#include "AppControllerServices.h"
#include "JobModel.h"
#include "PluginRegistryQueries.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"
#include "TvUI.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>

#include <array>
#include <map>

namespace {

// Metrics by size type (0, 1, 2), measured from the tile's top edge.
constexpr std::array<int, 3> kJobSideInset = {18, 41, 52};
constexpr std::array<int, 3> kJobFirstOutputTop = {31, 36, 52};
constexpr std::array<int, 3> kJobOutputGap = {10, 24, 24};
// By size type, then number of outputs (1 to 3).
constexpr int kJobInputTop[3][3] = {{31, 70, 109}, {36, 89, 128}, {52, 105, 144}};
constexpr int kJobArrowTop[3][3] = {{55, 95, 134}, {60, 114, 153}, {76, 130, 169}};
constexpr std::array<int, 3> kInputIconTop = {31, 36, 62};
constexpr std::array<int, 3> kOutputIconTop = {31, 36, 52};
constexpr std::array<int, 3> kTitleTop = {12, 15, 22};
constexpr std::array<int, 3> kTitleMarginPanel = {7, 7, 16};
constexpr std::array<int, 3> kTitleMarginJob = {22, 64, 68};

// Sizes by kind row (input/output, job with 1, 2, 3 outputs) and size type.
constexpr QSize kPanelSizes[4][3] = {
    {{110, 110}, {140, 140}, {190, 190}},
    {{210, 110}, {280, 140}, {354, 190}},
    {{210, 188}, {280, 232}, {354, 280}},
    {{210, 266}, {280, 324}, {354, 374}},
};

constexpr int kToggleImageContinue = 10;
constexpr int kToggleImageProcess = 11;
// Where the option icons of a large input tile stand, their bottom above
// the tile's bottom.
constexpr int kOptionIconX[3] = {9, 39, 69};
constexpr int kOptionIconBottom = 26;
constexpr int kFormatBadgeX = 9;
constexpr int kDescriptionWidth = 158;
constexpr int kDescriptionBottom = 45;
constexpr int kDescriptionHeight = 34;

bool validSizeType(int sizeType) { return sizeType >= 0 && sizeType <= 2; }

std::map<std::string, QImage>& iconCache() {
    static std::map<std::string, QImage> cache;
    return cache;
}

QImage fitted(const QImage& image) {
    if (image.isNull()) return {};
    const QSizeF size = QlrUtilsMethod::resizeKeepRatio(QSizeF(image.size()),
                                                         QSizeF(PanelTile::kIconSide, PanelTile::kIconSide));
    const QSize target = size.toSize().expandedTo(QSize(1, 1));
    if (target == image.size()) return image;
    return image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

bool isFile(const std::string& path) { return !path.empty() && QFileInfo(QString::fromStdString(path)).isFile(); }

// The fitted icon of a path, from the cache or made by make and cached.
template <class Make>
QImage cachedIcon(const std::string& path, Make make) {
    auto& cache = iconCache();
    if (auto it = cache.find(path); it != cache.end()) return it->second;
    QImage icon = make();
    if (!icon.isNull()) cache.emplace(path, icon);
    return icon;
}

// The icon of a whole model's path: the file decoded at its fitted size, or
// the model's own icon (a bundle image or the file's icon) fitted.
QImage iconOfPath(const std::string& path, const QlrUtilsMethod::ImageRef& dispIcon) {
    if (path.empty()) return fitted(QlrUtilsMethod::imageOf(dispIcon));
    return cachedIcon(path, [&] {
        if (isFile(path))
            if (QImage image = PanelTile::fittedImageFromFile(QString::fromStdString(path)); !image.isNull())
                return image;
        return fitted(QlrUtilsMethod::imageOf(dispIcon));
    });
}

std::string pluginString(const std::string& pluginID, int type) {
    const auto value = PluginRegistryQueries::valueForPluginIDWithType(pluginID, type);
    const std::string* text = value ? value->string() : nullptr;
    return text ? *text : std::string();
}

bool pluginBool(const std::string& pluginID, int type) {
    const auto value = PluginRegistryQueries::valueForPluginIDWithType(pluginID, type);
    return value && value->toBool().value_or(false);
}

// The file-format badge: outputs without a plug-in, or whose plug-in shows
// the file-type setting.
constexpr int kShowFileTypeSettingType = 10;
constexpr int kDescriptionType = 2;
bool showsFormatBadge(const OutputModel& output) {
    return !output.isValidPlugin() || pluginBool(output.pluginID(), kShowFileTypeSettingType);
}

QRect mirrored(const QRect& rect, int width, bool rightToLeft) {
    return rightToLeft ? QRect(width - (rect.x() + rect.width()), rect.y(), rect.width(), rect.height()) : rect;
}

void drawCentredIn(QPainter& painter, const QImage& image, const QRect& box) {
    if (image.isNull()) return;
    const QSize size = image.size();
    painter.drawImage(QPoint(box.x() + (box.width() - size.width()) / 2, box.y() + (box.height() - size.height()) / 2),
                      image);
}

} // namespace

int PanelTile::buttonOrdinal(int scanBtnStatus) {
    for (int i = 0; i < 9; ++i)
        if (kButtonValues[i] == scanBtnStatus) return i + 1;
    return 0;
}

PanelTile::Kind PanelTile::kindOf(const PanelModel& panel) {
    if (dynamic_cast<const JobModel*>(&panel)) return kJob;
    if (dynamic_cast<const OutputModel*>(&panel)) return kOutput;
    if (dynamic_cast<const InputModel*>(&panel)) return kInput;
    return kUnknown;
}

QSize PanelTile::panelSize(Kind kind, int sizeType, int outputs) {
    if (!validSizeType(sizeType)) return {};
    if (kind == kInput || kind == kOutput) return kPanelSizes[0][sizeType];
    if (kind == kJob && outputs >= 1 && outputs <= 3) return kPanelSizes[outputs][sizeType];
    return {};
}

QSize PanelTile::makePanelSize(const PanelModel& panel, int sizeType) {
    const Kind kind = kindOf(panel);
    int outputs = 0;
    if (auto* job = dynamic_cast<const JobModel*>(&panel)) outputs = int(job->jobOutputModel_List().size());
    return panelSize(kind, sizeType, outputs);
}

QPainterPath PanelTile::contentsPathWithFrame(const QRectF& rect, bool rightToLeft) {
    // Corners clockwise from the top left (y down); the large one is the
    // lower trailing corner.
    const double left = rect.left(), right = rect.right(), top = rect.top(), bottom = rect.bottom();
    const double rTL = kSmallRadius, rTR = kSmallRadius;
    const double rBR = rightToLeft ? kSmallRadius : kLargeRadius;
    const double rBL = rightToLeft ? kLargeRadius : kSmallRadius;
    const double k = kCurveFactor;
    QPainterPath path;
    path.moveTo(left + rTL, top);
    path.lineTo(right - rTR, top);
    path.cubicTo(right - rTR + k * rTR, top, right, top + rTR - k * rTR, right, top + rTR);
    path.lineTo(right, bottom - rBR);
    path.cubicTo(right, bottom - rBR + k * rBR, right - rBR + k * rBR, bottom, right - rBR, bottom);
    path.lineTo(left + rBL, bottom);
    path.cubicTo(left + rBL - k * rBL, bottom, left, bottom - rBL + k * rBL, left, bottom - rBL);
    path.lineTo(left, top + rTL);
    path.cubicTo(left, top + rTL - k * rTL, left + rTL - k * rTL, top, left + rTL, top);
    path.closeSubpath();
    return path;
}

QRect PanelTile::calcLayoutDirectionPosition(const QRect& rect, const QRect& parent, bool rightToLeft) {
    return mirrored(rect, parent.width(), rightToLeft);
}

QRect PanelTile::editButtonFrame(const PanelModel& panel, int sizeType, bool rightToLeft) {
    const QSize tile = makePanelSize(panel, sizeType);
    if (tile.isEmpty() || sizeType == 0) return {};
    return mirrored(QRect(tile.width() - 36, tile.height() - 4 - 32, 32, 32), tile.width(), rightToLeft);
}

QRect PanelTile::continueScanButtonFrame(const PanelModel& panel, int sizeType, bool rightToLeft) {
    const QSize tile = makePanelSize(panel, sizeType);
    if (tile.isEmpty() || sizeType != 2 || kindOf(panel) != kJob) return {};
    return mirrored(QRect(9, tile.height() - 6 - 30, 36, 30), tile.width(), rightToLeft);
}

QRect PanelTile::imageProcessButtonFrame(const PanelModel& panel, int sizeType, bool rightToLeft) {
    const QSize tile = makePanelSize(panel, sizeType);
    if (tile.isEmpty() || sizeType != 2 || kindOf(panel) != kJob) return {};
    return mirrored(QRect(52, tile.height() - 6 - 30, 36, 30), tile.width(), rightToLeft);
}

QRect PanelTile::titleFrame(const PanelModel& panel, int sizeType, bool rightToLeft) {
    const QSize tile = makePanelSize(panel, sizeType);
    if (tile.isEmpty()) return {};
    const int margin = kindOf(panel) == kJob ? kTitleMarginJob[sizeType] : kTitleMarginPanel[sizeType];
    return mirrored(QRect(margin, kTitleTop[sizeType], tile.width() - 2 * margin, kTitleStripHeight), tile.width(),
                    rightToLeft);
}

PanelTile::JobBoxes PanelTile::jobBoxes(int sizeType, int outputs, const QSize& tile, bool rightToLeft) {
    JobBoxes boxes;
    if (!validSizeType(sizeType) || outputs < 1 || outputs > 3) return boxes;
    const int side = kJobSideInset[sizeType];
    boxes.input = mirrored(QRect(side, kJobInputTop[sizeType][outputs - 1], kIconSide, kIconSide), tile.width(),
                           rightToLeft);
    for (int i = 0; i < outputs; ++i) {
        const int top = kJobFirstOutputTop[sizeType] + i * (kIconSide + kJobOutputGap[sizeType]);
        boxes.outputs.push_back(
            mirrored(QRect(tile.width() - side - kIconSide, top, kIconSide, kIconSide), tile.width(), rightToLeft));
    }
    boxes.arrowTop = kJobArrowTop[sizeType][outputs - 1];
    return boxes;
}

QRect PanelTile::iconBox(Kind kind, int sizeType, const QSize& tile) {
    if (!validSizeType(sizeType) || (kind != kInput && kind != kOutput)) return {};
    const int top = kind == kInput ? kInputIconTop[sizeType] : kOutputIconTop[sizeType];
    return QRect((tile.width() - kIconSide) / 2, top, kIconSide, kIconSide);
}

QRect PanelTile::scanBadgeFrame(const QSize& badge, const QSize& tile, bool rightToLeft) {
    return mirrored(QRect(QPoint(6, 6), badge), tile.width(), rightToLeft);
}

QRect PanelTile::ordinalFrame(const QRect& badge, bool rightToLeft) {
    const int x = rightToLeft ? badge.x() - 20 : badge.x() + badge.width();
    return QRect(x, badge.y() + badge.height() + 3 - 26, 20, 26);
}

QString PanelTile::ordinalText(int scanBtnStatus) {
    const int ordinal = buttonOrdinal(scanBtnStatus);
    return ordinal ? QString::number(ordinal) : QString();
}

bool PanelTile::showsScanBadge(int scanBtnStatus, int sizeType) {
    if (sizeType != 1 && sizeType != 2) return false;
    if (scanBtnStatus == JobModel::kNoButton || AppControllerServices::curDS_IsAPDS()) return false;
    return AppControllerServices::isSupportedMultiDeviceBtns() || scanBtnStatus == 1;
}

QImage PanelTile::fittedImageFromFile(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return {};
    const QSizeF target = QlrUtilsMethod::resizeKeepRatio(QSizeF(size), QSizeF(kIconSide, kIconSide));
    reader.setScaledSize(target.toSize().expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    return image;
}

QImage PanelTile::getInputIcon(const PanelModel& panel) {
    auto whole = panel.wholeModel();
    if (!whole) return fitted(QlrUtilsMethod::imageOf(panel.dispIcon()));
    const std::string& path = whole->useAlternateIcon() ? whole->alternateIconPath() : whole->iconPath();
    return iconOfPath(path, panel.dispIcon());
}

QImage PanelTile::getOutputIcon(const OutputModel& output) {
    auto whole = output.wholeModel();
    const bool plugin = output.isValidPlugin();
    QImage icon;
    if (!plugin || (whole && whole->useAlternateIcon())) {
        icon = getInputIcon(output);
    } else {
        const std::string path = pluginString(output.pluginID(), PluginRegistryQueries::kIconPathType);
        if (!path.empty()) {
            icon = cachedIcon(path, [&] {
                if (isFile(path))
                    if (QImage image = fittedImageFromFile(QString::fromStdString(path)); !image.isNull())
                        return image;
                return fitted(QlrUtilsMethod::imageOf(QlrUtilsMethod::fileIcnImage(path)));
            });
        }
    }
    if (icon.isNull()) icon = fitted(QlrUtilsMethod::bundleImageNamed(plugin ? "icn_plugin" : "icn_folder"));
    return icon;
}

void PanelTile::clearIconCache() { iconCache().clear(); }

int PanelTile::iconCacheSize() { return int(iconCache().size()); }

QImage PanelTile::contentsForPanel(const PanelModel& panel, int sizeType) {
    const QSize size = makePanelSize(panel, sizeType);
    if (size.isEmpty()) return {};
    const bool rtl = QGuiApplication::layoutDirection() == Qt::RightToLeft;
    const Kind kind = kindOf(panel);

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // Background: the rim, then the face inset by the rim's width.
    const bool selected = panel.isSelected();
    const QRectF whole(0, 0, size.width(), size.height());
    painter.fillPath(contentsPathWithFrame(whole, rtl), TvUI::colorWithDeviceRGB(selected ? kSelectedRimRGB : kRimRGB));
    const double rim = selected ? 2 : 1;
    painter.fillPath(contentsPathWithFrame(whole.adjusted(rim, rim, -rim, -rim), rtl),
                     TvUI::colorWithDeviceRGB(selected ? kSelectedFaceRGB : kFaceRGB));

    if (kind == kJob) {
        const auto& job = static_cast<const JobModel&>(panel);
        const auto outputs = job.jobOutputModel_List();
        const JobBoxes boxes = jobBoxes(sizeType, int(outputs.size()), size, rtl);
        const auto inputs = job.jobInputModel_List();
        if (!inputs.empty() && inputs.front()) drawCentredIn(painter, getInputIcon(*inputs.front()), boxes.input);
        for (std::size_t i = 0; i < outputs.size() && i < boxes.outputs.size(); ++i) {
            if (!outputs[i]) continue;
            drawCentredIn(painter, getOutputIcon(*outputs[i]), boxes.outputs[i]);
            if (showsFormatBadge(*outputs[i])) {
                const QImage badge = QlrUtilsMethod::imageOf(outputs[i]->dispFileFormatImage());
                if (!badge.isNull()) {
                    const QRect box = boxes.outputs[i];
                    const int x = rtl ? box.right() + 1 - badge.width() : box.x();
                    painter.drawImage(QPoint(x, box.bottom() + 1 - badge.height()), badge);
                }
            }
        }
        const QImage arrow = rtl ? QlrUtilsMethod::flipHorizontalImage("panel_jobarrow")
                                 : QlrUtilsMethod::bundleImageNamed("panel_jobarrow");
        if (!arrow.isNull()) painter.drawImage(QPoint((size.width() - arrow.width()) / 2, boxes.arrowTop), arrow);
    } else if (kind == kInput || kind == kOutput) {
        const QRect box = iconBox(kind, sizeType, size);
        if (kind == kInput) {
            drawCentredIn(painter, getInputIcon(panel), box);
        } else {
            const auto& output = static_cast<const OutputModel&>(panel);
            drawCentredIn(painter, getOutputIcon(output), box);
            if (showsFormatBadge(output)) {
                const QImage badge = QlrUtilsMethod::imageOf(output.dispFileFormatImage());
                if (!badge.isNull())
                    painter.drawImage(
                        mirrored(QRect(QPoint(kFormatBadgeX, box.bottom() + 1 - badge.height()), badge.size()),
                                 size.width(), rtl)
                            .topLeft(),
                        badge);
            }
        }
    }

    // The scanner-button badge of medium and large job tiles.
    if (kind == kJob) {
        const auto& job = static_cast<const JobModel&>(panel);
        if (showsScanBadge(job.scanBtnStatus(), sizeType)) {
            const QImage scan = QlrUtilsMethod::bundleImageNamed("panel_scan");
            const QRect badge = scanBadgeFrame(scan.isNull() ? QSize(22, 22) : scan.size(), size, rtl);
            if (!scan.isNull()) painter.drawImage(badge.topLeft(), scan);
            if (AppControllerServices::isSupportedMultiDeviceBtns()) {
                painter.setFont(TvUI::systemFont(21, true));
                painter.setPen(TvUI::colorWithDeviceRGB(kBadgeTextRGB));
                painter.drawText(ordinalFrame(badge, rtl), Qt::AlignCenter, ordinalText(job.scanBtnStatus()));
            }
        }
        if (sizeType == 2) {
            const std::uint32_t cont = TvUI::styleFlags(kToggleImageContinue) | (job.isContinueScan() ? TvUI::kFlagOn : 0);
            const std::uint32_t proc = TvUI::styleFlags(kToggleImageProcess) | (job.isImageProcess() ? TvUI::kFlagOn : 0);
            TvUI::drawImageButtonWithFrame(painter, continueScanButtonFrame(panel, sizeType, rtl), cont);
            TvUI::drawImageButtonWithFrame(painter, imageProcessButtonFrame(panel, sizeType, rtl), proc);
        }
    }
    if (sizeType == 1 || sizeType == 2) TvUI::drawRoundedButtonWithFrame(painter, editButtonFrame(panel, sizeType, rtl), 0);

    // The settings summary of large input and output tiles.
    if (sizeType == 2 && kind == kOutput) {
        const auto& output = static_cast<const OutputModel&>(panel);
        const std::string text = output.isValidPlugin() ? pluginString(output.pluginID(), kDescriptionType) : "";
        if (!text.empty()) {
            painter.setFont(TvUI::systemFont(13));
            painter.setPen(TvUI::colorWithDeviceRGB(kTitleRGB));
            const QRect box((size.width() - kDescriptionWidth) / 2, size.height() - kDescriptionBottom - kDescriptionHeight,
                            kDescriptionWidth, kDescriptionHeight);
            painter.drawText(box, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap, QString::fromStdString(text));
        }
    } else if (sizeType == 2 && kind == kInput) {
        const auto& input = static_cast<const InputModel&>(panel);
        const QRect box = iconBox(kind, sizeType, size);
        const QFont font = TvUI::systemFont(12, true);
        painter.setFont(font);
        painter.setPen(TvUI::colorWithDeviceRGB(kBadgeTextRGB));
        const QRect paper(16, box.bottom() + 3, size.width() - 32, 16);
        painter.drawText(paper, Qt::AlignCenter,
                         QFontMetrics(font).elidedText(QString::fromStdString(input.dispPaperSize()), Qt::ElideRight,
                                                       paper.width()));
        const QImage icons[3] = {QlrUtilsMethod::imageOf(input.dispReaderSideIcon()),
                                 QlrUtilsMethod::imageOf(input.dispDeskewIcon()),
                                 QlrUtilsMethod::imageOf(input.dispRecognizeDirectionIcon())};
        for (int i = 0; i < 3; ++i) {
            if (icons[i].isNull()) continue;
            const QRect at(QPoint(kOptionIconX[i], size.height() - kOptionIconBottom - icons[i].height()), icons[i].size());
            painter.drawImage(mirrored(at, size.width(), rtl).topLeft(), icons[i]);
        }
    }

    // The title last, over everything.
    auto wholeModel = panel.wholeModel();
    const QString title = QString::fromStdString(wholeModel ? wholeModel->title() : panel.dispTitle());
    const QRect strip = titleFrame(panel, sizeType, rtl);
    const QFont font = TvUI::systemFont(16);
    painter.setFont(font);
    painter.setPen(TvUI::colorWithDeviceRGB(kTitleRGB));
    painter.drawText(strip, Qt::AlignCenter, QFontMetrics(font).elidedText(title, Qt::ElideRight, strip.width()));
    painter.end();
    return image;
}

void PanelTile::createPanelImage(PanelModel& panel, int sizeType) {
    QImage image = contentsForPanel(panel, sizeType);
    if (image.isNull()) return;
    panel.setDispImage(std::make_shared<QlrUtilsMethod::QtImage>(QIcon(), std::move(image)));
    panel.setPanelSizeType(sizeType);
}

void PanelTile::createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& list, int sizeType) {
    for (const auto& panel : list)
        if (panel) createPanelImage(*panel, sizeType);
}

QImage PanelTile::displayImage(const PanelModel& panel) { return QlrUtilsMethod::imageOf(panel.dispImage()); }
