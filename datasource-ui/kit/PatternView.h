// A view that fills itself with a colour or a tiled image, the tiles
// aligned with the window so neighbouring views join seamlessly.
#pragma once

#include <QBrush>
#include <QWidget>

namespace ComTavrolekKD720 {

class FPatternView final : public QWidget {
public:
    explicit FPatternView(QWidget* parent = nullptr);

    void setColor(const QColor& color);
    void setPatternImage(const QPixmap& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QBrush mPattern{Qt::white};
};

} // namespace ComTavrolekKD720
