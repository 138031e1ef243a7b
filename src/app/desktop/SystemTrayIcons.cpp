#include "app/desktop/SystemTrayIcons.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QResizeEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <numeric>

namespace kestrane::app {

namespace {

// Each icon speaks for its own provider; the app mark alone for all of them.
std::string toolTip(const ui::TrayIconRenderer::Content& content, std::size_t index) {
    if (index >= content.entries.size()) return content.accessibilityText();
    const auto& entry = content.entries[index];
    if (!entry.toolTip.empty()) return entry.toolTip;
    return ui::TrayIconRenderer::Content{{entry}}.accessibilityText();
}

}  // namespace

SystemTrayIcons::SystemTrayIcons(std::function<QColor()> iconColor)
    : iconColor_(std::move(iconColor)) {
    connect(&tray_, &TrayAvailabilityWatcher::appeared, this, &SystemTrayIcons::trayAppeared);
    const auto addScreen = [this](const QString& text, Screen screen) {
        QAction* action = menu_.addAction(text);
        connect(action, &QAction::triggered, this,
                [this, screen] { emit screenRequested(screen); });
        return action;
    };
    menu_.setDefaultAction(addScreen(QStringLiteral("Показать лимиты"), Screen::overview));
    connect(menu_.addAction(QStringLiteral("Обновить")), &QAction::triggered, this,
            &TrayIcons::refreshRequested);
    addScreen(QStringLiteral("Локальные сервисы"), Screen::services);
    addScreen(QStringLiteral("Настройки"), Screen::settings);
    menu_.addSeparator();
    // No shortcut shown: nothing would take it while the menu is closed.
    connect(menu_.addAction(QStringLiteral("Выйти из Kestrane")), &QAction::triggered, this,
            &TrayIcons::quitRequested);
    connect(&menu_, &QMenu::aboutToShow, this, &TrayIcons::menuWillShow);
}

SystemTrayIcons::~SystemTrayIcons() = default;

bool SystemTrayIcons::isAvailable() const { return tray_.isAvailable(); }

void SystemTrayIcons::trayAppeared() {
    if (content_) show(*content_);
    emit becameAvailable();
}

void SystemTrayIcons::redraw() { apply(); }

std::vector<QImage> SystemTrayIcons::iconImages(const ui::TrayIconRenderer::Content& content,
                                                int pixelSize, const QColor& color) {
    std::vector<QImage> images;
    if (content.entries.empty()) {
        images.push_back(
            ui::TrayIconRenderer::tinted(ui::TrayIconRenderer::makeAppTrayIcon(pixelSize), color));
    }
    for (const auto& entry : content.entries) {
        images.push_back(ui::TrayIconRenderer::tinted(
            ui::TrayIconRenderer::makeTrayIcon(entry, pixelSize), color));
    }
    return images;
}

void SystemTrayIcons::setIconCount(std::size_t count) {
    if (icons_.size() == count) return;
    iconForEntry_.resize(count);
    std::iota(iconForEntry_.begin(), iconForEntry_.end(), std::size_t{0});
    // XEmbed trays report where an icon went some 300 ms after it was shown.
    QTimer::singleShot(400, this, [this] { matchEntriesToPositions(10); });
    while (icons_.size() > count) icons_.pop_back();
    while (icons_.size() < count) {
        auto icon = std::make_unique<QSystemTrayIcon>();
        // Qt shows the context menu itself; trays that route the right click to their own
        // menu otherwise (xfce4-panel) deliver it to ours this way.
        icon->setContextMenu(&menu_);
        connect(icon.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) emit clicked();
                    // A middle click (SecondaryActivate on StatusNotifierItem hosts).
                    if (reason == QSystemTrayIcon::MiddleClick) emit refreshRequested();
                });
        icons_.push_back(std::move(icon));
    }
}

void SystemTrayIcons::show(const ui::TrayIconRenderer::Content& content) {
    content_ = content;
    // Making a tray icon before a tray exists would settle Qt on the wrong kind of tray.
    if (!tray_.isAvailable()) return;
    setIconCount(std::max<std::size_t>(1, content.entries.size()));
    apply();
}

void SystemTrayIcons::apply() {
    if (!content_ || icons_.empty()) return;
    const std::size_t count = icons_.size();
    const QColor color = iconColor_ ? iconColor_() : QColor(Qt::black);
    std::vector<QIcon> icons(count);
    // Trays ask for different heights (16 to 24 points on most panels, more on dense screens);
    // each size is drawn for itself at the screen's scale, so small ones stay sharp and every
    // tray finds one that fills its height.
    const qreal scale = qApp->devicePixelRatio();
    for (const int size : ui::TrayIconRenderer::trayIconPixelSizes(scale)) {
        const auto images = iconImages(*content_, size, color);
        for (std::size_t i = 0; i < count; ++i) {
            QPixmap pixmap = QPixmap::fromImage(images[i]);
            pixmap.setDevicePixelRatio(scale);
            icons[i].addPixmap(pixmap);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        QSystemTrayIcon& icon = *icons_[iconForEntry_[i]];
        icon.setIcon(icons[i]);
        icon.setToolTip(QString::fromStdString(toolTip(*content_, i)));
        icon.show();
    }
    squareXEmbedIcons();
}

void SystemTrayIcons::squareXEmbedIcons() {
    // Qt's XEmbed icon is a top-level widget of that name; StatusNotifierItem hosts have none.
    static const char* const watchedProperty = "kestraneSquared";
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() != QLatin1String("QSystemTrayIconSys") ||
            widget->property(watchedProperty).toBool()) {
            continue;
        }
        widget->setProperty(watchedProperty, true);
        widget->installEventFilter(this);
        if (widget->height() > widget->width()) widget->setMinimumWidth(widget->height());
    }
}

bool SystemTrayIcons::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        const int side = static_cast<QResizeEvent*>(event)->size().height();
        if (side > widget->minimumWidth() && side <= 256) widget->setMinimumWidth(side);
    }
    return TrayIcons::eventFilter(watched, event);
}

void SystemTrayIcons::matchEntriesToPositions(int attemptsLeft) {
    std::vector<QRect> places;
    for (const auto& icon : icons_) places.push_back(icon->geometry());
    const bool placed = std::all_of(places.begin(), places.end(),
                                    [](const QRect& rect) { return !rect.isEmpty(); });
    if (!placed) {
        // StatusNotifier trays never tell; XEmbed ones may take a moment longer.
        if (attemptsLeft > 1) {
            QTimer::singleShot(300, this,
                               [this, attemptsLeft] { matchEntriesToPositions(attemptsLeft - 1); });
        }
        return;
    }
    std::vector<std::size_t> order(icons_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // Left to right, and top to bottom in vertical trays.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return places[a].x() != places[b].x() ? places[a].x() < places[b].x()
                                              : places[a].y() < places[b].y();
    });
    if (order == iconForEntry_) return;
    iconForEntry_ = order;
    apply();
}

std::optional<QRect> SystemTrayIcons::geometry() const {
    QRect united;
    for (const auto& icon : icons_) {
        // Empty right after showing on XEmbed trays and always on StatusNotifier trays.
        const QRect rect = icon->geometry();
        if (rect.isValid() && !rect.isEmpty()) united = united.united(rect);
    }
    if (united.isEmpty()) return std::nullopt;
    return united;
}

}  // namespace kestrane::app
