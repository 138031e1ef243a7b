#include "ui/QuotaPopoverViewController.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ProviderPreferences.h"
#include "model/ProviderUsage.h"
#include "ui/MenuBarBadgeRenderer.h"
#include "ui/ProviderArtwork.h"
#include "ui/QuotaSurface.h"
#include "ui/QuotaTheme.h"

namespace kestrane::ui {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* makeLabel(const QString& text, int pixelSize, QFont::Weight weight, const QColor& color,
                  QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

QPixmap markPixmap(model::ProviderKind kind, const QColor& color, qreal devicePixelRatio) {
    const int side = 22;
    QImage image(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(devicePixelRatio);
    if (const auto* mark = ProviderArtwork::image(kind)) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        mark->paint(painter, QRectF(2, 2, side - 4, side - 4));
    }
    return QPixmap::fromImage(MenuBarBadgeRenderer::tinted(image, color));
}

}  // namespace

QuotaPopoverViewController::QuotaPopoverViewController(platform::PreferencesStore& defaults,
                                                       QWidget* parent)
    : QWidget(parent), defaults_(defaults) {
    // A stored name that is not exactly a provider's raw value selects nothing.
    if (const auto stored = defaults_.value(app::ProviderPreferences::selectedProviderKey);
        stored && stored->is_string()) {
        selectedProvider_ = model::providerKindFromRawValue(stored->get<std::string>());
    }
    if (const auto stored = defaults_.value(app::ProviderPreferences::chartShowsBurnKey);
        stored && stored->is_boolean()) {
        chartShowsBurn_ = stored->get<bool>();
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setSpacing(10);
    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titleLabel_ = makeLabel(QStringLiteral("Kestrane"), 17, QFont::DemiBold,
                            QuotaTheme::text().resolve(*this), this);
    subtitleLabel_ = makeLabel(QStringLiteral("Лимиты и расход"), 12, QFont::Normal,
                               QuotaTheme::muted().resolve(*this), this);
    titles->addWidget(titleLabel_);
    titles->addWidget(subtitleLabel_);
    header->addLayout(titles);
    header->addStretch();
    refreshButton_ = new QPushButton(this);
    refreshButton_->setCursor(Qt::PointingHandCursor);
    connect(refreshButton_, &QPushButton::clicked, this, [this] {
        if (onRefresh) onRefresh();
    });
    header->addWidget(refreshButton_);
    layout->addLayout(header);
    historyErrorLabel_ =
        makeLabel(QString(), 11, QFont::Normal, QuotaTheme::warning().resolve(*this), this);
    historyErrorLabel_->setWordWrap(true);
    layout->addWidget(historyErrorLabel_);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(8);
    layout->addLayout(rows_);
    layout->addStretch();
    render();
}

QString QuotaPopoverViewController::summary(const ProviderViewState& state) {
    if (!state.isEnabled) return QStringLiteral("Выключен");
    if (state.usage && !state.usage->windows.empty()) {
        const model::LimitWindow& window = state.usage->windows.front();
        const double remaining = std::clamp(100.0 - window.usedPercent, 0.0, 100.0);
        QString text = QStringLiteral("%1% осталось").arg(model::roundedPercent(remaining));
        if (const std::string title = window.periodTitle(); !title.empty()) {
            text += QStringLiteral(" · ") + toQString(title);
        }
        if (state.error) text += QStringLiteral(" · ") + toQString(*state.error);
        return text;
    }
    if (state.error) return toQString(*state.error);
    return QStringLiteral("Нет данных");
}

void QuotaPopoverViewController::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Colours follow the palette: a light/dark switch re-renders with the new values.
    if (event->type() == QEvent::PaletteChange && !rendering_) render();
}

void QuotaPopoverViewController::render() {
    rendering_ = true;
    for (auto [label, color] : {std::pair{titleLabel_, &QuotaTheme::text()},
                                std::pair{subtitleLabel_, &QuotaTheme::muted()},
                                std::pair{historyErrorLabel_, &QuotaTheme::warning()}}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color->resolve(*this));
        label->setPalette(palette);
    }
    refreshButton_->setText(isRefreshing_ ? QStringLiteral("Обновление…")
                                          : QStringLiteral("Обновить"));
    refreshButton_->setEnabled(!isRefreshing_);
    historyErrorLabel_->setText(historyError_ ? toQString(*historyError_) : QString());
    historyErrorLabel_->setVisible(historyError_.has_value());

    while (QLayoutItem* item = rows_->takeAt(0)) {
        if (item->widget()) item->widget()->deleteLater();
        delete item;
    }
    const QColor text = QuotaTheme::text().resolve(*this);
    const QColor muted = QuotaTheme::muted().resolve(*this);
    for (const ProviderViewState& state : states_) {
        auto* card = new QuotaSurface(QuotaTheme::card(), QuotaTheme::separator(), 12, this);
        card->setFixedHeight(58);
        auto* row = new QHBoxLayout(card);
        row->setContentsMargins(12, 8, 12, 8);
        row->setSpacing(10);
        auto* mark = new QLabel(card);
        mark->setPixmap(
            markPixmap(state.provider, state.isEnabled ? text : muted, devicePixelRatioF()));
        row->addWidget(mark);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(makeLabel(toQString(model::rawValue(state.provider)), 13, QFont::Medium,
                                   state.isEnabled ? text : muted, card));
        const bool failed = state.isEnabled && state.error.has_value();
        QLabel* line = makeLabel(summary(state), 11, QFont::Normal,
                                 failed ? QuotaTheme::warning().resolve(*this) : muted, card);
        // Long error texts are cut to the row; the whole text stays in the tool tip.
        line->setToolTip(line->text());
        line->setText(QFontMetrics(line->font()).elidedText(line->text(), Qt::ElideRight, 330));
        texts->addWidget(line);
        row->addLayout(texts, 1);
        rows_->addWidget(card);
    }
    rendering_ = false;
}

}  // namespace kestrane::ui
