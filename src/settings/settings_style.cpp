#include "settings/settings_style.h"

#include "platform/app_icon.h"

#include <QApplication>
#include <QGroupBox>
#include <QIconEngine>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>

namespace settings_style {

QFont headlineFont(const QFont& base) {
    QFont font = base;
    font.setBold(true);
    return font;
}

QFont titleFont(const QFont& base) {
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 1.6);
    else
        font.setPixelSize(font.pixelSize() * 8 / 5);
    font.setBold(true);
    return font;
}

QFont captionFont(const QFont& base) {
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 0.85);
    else
        font.setPixelSize(std::max(1, font.pixelSize() * 17 / 20));
    return font;
}

QString unbrokenExamples(const QString& text, const QStringList& examples) {
    QStringList kept;
    for (const QString& example : examples)
        kept << QStringLiteral("<span style=\"white-space:nowrap\">%1</span>")
                    .arg(example.toHtmlEscaped());
    return text.toHtmlEscaped().arg(kept.join(QStringLiteral(", ")));
}

void boldTitle(QGroupBox* group) {
    const QFont plain = group->font();
    for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // A font of the child's own stays; an inherited one is pinned.
        if (!child->testAttribute(Qt::WA_SetFont))
            child->setFont(plain);
    }
    group->setFont(headlineFont(plain));
}

void makeSecondary(QLabel* label) {
    QPalette palette = label->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::WindowText,
                         palette.color(group, QPalette::PlaceholderText));
    label->setPalette(palette);
}

namespace {

enum class Shape { Number, List, Hosts, Info, Remove };

// Draws one symbol on a 16 x 16 design grid, scaled to whatever size is asked
// for, in the application palette's current text colour. Drawing happens on a
// transparent image so that the cross of the remove symbol can be cut out of
// its disc whatever lies underneath.
class SymbolEngine : public QIconEngine {
public:
    explicit SymbolEngine(Shape shape) : m_shape(shape) {}

    QIconEngine* clone() const override { return new SymbolEngine(m_shape); }
    QString key() const override { return QStringLiteral("harborwatch-symbol"); }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawImage(rect, render(rect.size() * dpr, mode));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return QPixmap::fromImage(render(size, mode));
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap = QPixmap::fromImage(render(size * scale, mode));
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

private:
    QImage render(QSize size, QIcon::Mode mode) const {
        QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal side = std::min(size.width(), size.height());
        p.translate((size.width() - side) / 2.0, (size.height() - side) / 2.0);
        p.scale(side / 16.0, side / 16.0);

        const QPalette palette = QApplication::palette();
        const QPalette::ColorGroup group =
            mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active;
        const QColor color = palette.color(
            group, m_shape == Shape::Remove ? QPalette::PlaceholderText : QPalette::WindowText);
        QPen pen(color, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

        switch (m_shape) {
        case Shape::Number:
            p.setPen(pen);
            p.drawLine(QPointF(6.5, 2), QPointF(5, 14));
            p.drawLine(QPointF(11, 2), QPointF(9.5, 14));
            p.drawLine(QPointF(2.5, 5.75), QPointF(13.5, 5.75));
            p.drawLine(QPointF(2.5, 10.25), QPointF(13.5, 10.25));
            break;
        case Shape::List:
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            for (qreal y : {4.0, 8.0, 12.0})
                p.drawEllipse(QPointF(3, y), 1.3, 1.3);
            p.setPen(pen);
            for (qreal y : {4.0, 8.0, 12.0})
                p.drawLine(QPointF(6.5, y), QPointF(14, y));
            break;
        case Shape::Hosts:
            // Two machines stacked, each with its light.
            pen.setWidthF(1.2);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            for (qreal top : {2.5, 9.0}) {
                p.drawRoundedRect(QRectF(2, top, 12, 4.5), 1.0, 1.0);
                p.drawPoint(QPointF(11.5, top + 2.25));
            }
            break;
        case Shape::Info:
            pen.setWidthF(1.2);
            p.setPen(pen);
            p.drawEllipse(QPointF(8, 8), 6.6, 6.6);
            pen.setWidthF(1.6);
            p.setPen(pen);
            p.drawLine(QPointF(8, 7.2), QPointF(8, 11.5));
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawEllipse(QPointF(8, 4.8), 1.0, 1.0);
            break;
        case Shape::Remove:
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawEllipse(QPointF(8, 8), 7, 7);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            pen.setWidthF(1.6);
            p.setPen(pen);
            p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
            p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
            break;
        }
        return image;
    }

    Shape m_shape;
};

} // namespace

QIcon numberIcon() {
    return QIcon(new SymbolEngine(Shape::Number));
}
QIcon listIcon() {
    return QIcon(new SymbolEngine(Shape::List));
}
QIcon hostsIcon() {
    return QIcon(new SymbolEngine(Shape::Hosts));
}
QIcon infoIcon() {
    return QIcon(new SymbolEngine(Shape::Info));
}
QIcon removeIcon() {
    return QIcon(new SymbolEngine(Shape::Remove));
}

QIcon programSymbol() {
    return harborwatchIcon();
}

} // namespace settings_style
