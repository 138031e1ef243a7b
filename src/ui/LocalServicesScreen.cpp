#include "ui/LocalServicesScreen.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "model/DateFormatting.h"
#include "platform/ByteCountFormatter.h"
#include "ui/LocalServiceStopButton.h"
#include "ui/PanelButton.h"
#include "ui/PanelSurface.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

namespace {

using Kit = PanelWidgetKit;
using localservices::LocalService;

QString abbreviatedHome(const std::string& path) {
    const QString text = Kit::toQString(path);
    const QString home = QDir::homePath();
    if (home.size() > 1 && (text == home || text.startsWith(home + QLatin1Char('/')))) {
        return QLatin1Char('~') + text.mid(home.size());
    }
    return text;
}

}  // namespace

QWidget* LocalServicesScreen::make() const {
    auto* document = Kit::makeTransparent(&context_.owner);
    document->setObjectName(QStringLiteral("services"));
    QVBoxLayout* stack = Kit::makeStack(document, 12);
    stack->addWidget(makeToolbar(document));

    if (state_.error) {
        stack->addWidget(Kit::makeMessageCard(QStringLiteral("Требуется внимание"),
                                              Kit::toQString(*state_.error), document));
    }
    if (state_.notice) {
        stack->addWidget(Kit::makeMessageCard(QStringLiteral("Требуется внимание"),
                                              Kit::toQString(*state_.notice), document));
    }
    for (const LocalService& service : state_.services) {
        stack->addWidget(makeServiceCard(service, document));
    }
    if (const auto message = state_.emptyListMessage()) {
        stack->addWidget(Kit::makeMessageCard(Kit::toQString(message->title),
                                              Kit::toQString(message->text), document));
    }
    return document;
}

QWidget* LocalServicesScreen::makeToolbar(QWidget* parent) const {
    PanelSurface* toolbar = Kit::makeCard(PanelTheme::panel(), 42, parent);
    toolbar->setObjectName(QStringLiteral("servicesToolbar"));
    auto* row = new QHBoxLayout(toolbar);
    row->setContentsMargins(16, 9, 12, 9);
    row->setSpacing(8);
    QString status;
    if (state_.isLoading) {
        status = QStringLiteral("Обновляю список...");
    } else if (state_.updatedAt) {
        status =
            QStringLiteral("Найдено: ") + QString::number(state_.runningCount()) +
            QStringLiteral(" • ") +
            Kit::toQString(model::DateFormatting::updated(*state_.updatedAt, context_.calendar));
    } else {
        status = QStringLiteral("Только пользовательские dev-сервисы");
    }
    QLabel* statusLabel = Kit::makeLabel(status, 10, QFont::Normal, PanelTheme::text(), toolbar);
    statusLabel->setObjectName(QStringLiteral("servicesStatus"));
    row->addWidget(statusLabel);
    row->addStretch();
    auto* refresh =
        new PanelButton(QString(), QStringLiteral("arrow.clockwise"), PanelTheme::text(), toolbar);
    refresh->setFixedSize(24, 24);
    refresh->setSymbolSize(13);
    refresh->setAccessibleName(QStringLiteral("Обновить список"));
    refresh->setToolTip(QStringLiteral("Обновить список"));
    refresh->setObjectName(QStringLiteral("refreshServices"));
    refresh->setEnabled(!state_.isLoading);
    QObject::connect(refresh, &QAbstractButton::clicked, &context_.actions,
                     &PanelActions::refreshServices);
    row->addWidget(refresh);
    return toolbar;
}

QWidget* LocalServicesScreen::makeServiceCard(const LocalService& service, QWidget* parent) const {
    PanelSurface* card = Kit::makeCard(PanelTheme::card(), 150, parent);
    const QString id = Kit::toQString(service.id());
    card->setObjectName(QStringLiteral("service:") + id);
    QVBoxLayout* stack = Kit::makeCardStack(card, 7);

    const bool stopping = state_.stoppingServiceIDs.count(service.id()) > 0;
    // Stopped, but kept in its place until the next scan.
    const bool stopped = state_.stoppedServiceIDs.count(service.id()) > 0;
    auto* titleRow = Kit::makeTransparent(card);
    titleRow->setFixedWidth(Kit::textWidth);
    auto* titles = new QHBoxLayout(titleRow);
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(8);
    QLabel* statusWord = Kit::makeLabel(stopped ? QStringLiteral("Остановлен")
                                        : stopping ? QStringLiteral("Останавливается...")
                                                   : QStringLiteral("Работает"),
                                        9, QFont::DemiBold,
                                        stopped    ? PanelTheme::muted()
                                        : stopping ? PanelTheme::warning()
                                                   : PanelTheme::running(),
                                        titleRow);
    statusWord->setObjectName(QStringLiteral("serviceStatus"));
    statusWord->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const QString fullName = Kit::toQString(service.name);
    const int nameRoom = Kit::textWidth - 8 - statusWord->sizeHint().width();
    QLabel* name = Kit::makeElidedLabel(fullName, 13, QFont::Bold, PanelTheme::text(), nameRoom,
                                        Qt::ElideMiddle, titleRow);
    name->setObjectName(QStringLiteral("serviceName"));
    titles->addWidget(name);
    titles->addWidget(statusWord);
    titles->addStretch();
    stack->addWidget(titleRow);

    QString address;
    const QString pid = QString::number(service.pid);
    if (!service.ports.empty()) {
        QStringList ports;
        for (const int port : service.ports) ports << QString::number(port);
        address = QStringLiteral("Порт: ") + ports.join(u", ") + QStringLiteral(" • PID ") + pid;
    } else {
        address = QStringLiteral("Без TCP-порта • PID ") + pid;
    }
    QLabel* addressLabel = Kit::makeLabel(address, 10, QFont::DemiBold, PanelTheme::text(), card);
    addressLabel->setObjectName(QStringLiteral("serviceAddress"));
    stack->addWidget(addressLabel);

    QStringList metrics;
    if (service.cpuPercent) metrics << Kit::formatted("CPU %.1f%%", *service.cpuPercent);
    if (service.memoryBytes) {
        metrics << QStringLiteral("RAM ") +
                       Kit::toQString(platform::ByteCountFormatter::memory(*service.memoryBytes));
    }
    if (service.startedAt) {
        metrics << QStringLiteral("Старт ") + Kit::toQString(context_.calendar.format(
                                                  *service.startedAt, "d MMM, HH:mm", "ru_RU"));
    }
    if (!metrics.isEmpty()) {
        QLabel* line =
            Kit::makeWrappingLabel(Kit::keepUnitsWithNumbers(metrics.join(QStringLiteral(" • "))),
                                   9, QFont::Normal, PanelTheme::muted(), Kit::textWidth, card);
        line->setObjectName(QStringLiteral("serviceMetrics"));
        stack->addWidget(line);
    }

    QLabel* project = nullptr;
    if (service.project) {
        project = Kit::makeWrappingLabel(
            QStringLiteral("Проект: ") + Kit::toQString(service.project->name) + QLatin1Char('\n') +
                abbreviatedHome(service.project->path),
            9, QFont::Medium, PanelTheme::muted(), Kit::textWidth, card);
    } else {
        QString text = QStringLiteral("Проект: неразобранный");
        if (service.workingDirectory) {
            text += QStringLiteral(" • ") + abbreviatedHome(*service.workingDirectory);
        }
        project = Kit::makeWrappingLabel(text, 9, QFont::Medium, PanelTheme::warning(),
                                         Kit::textWidth, card);
    }
    project->setObjectName(QStringLiteral("serviceProject"));
    stack->addWidget(project);

    QLabel* command =
        Kit::makeWrappingLabel(QStringLiteral("Команда: ") + Kit::toQString(service.command), 9,
                               QFont::Normal, PanelTheme::muted(), Kit::textWidth, card);
    command->setObjectName(QStringLiteral("serviceCommand"));
    stack->addWidget(command);

    const bool stoppable = service.startToken.has_value() && service.pid >= 2;
    auto* stop = new LocalServiceStopButton(
        stoppable ? QStringLiteral("Остановить") : QStringLiteral("Остановка недоступна"), id,
        card);
    // Named after its row: the focus stays with the row's button when the list is rebuilt,
    // and never moves to another row's when this one is stopped (it goes to the first control).
    stop->setObjectName(QStringLiteral("stopService:") + id);
    stop->setEnabled(stoppable && !stopping && !stopped && !state_.isLoading);
    stop->setFixedHeight(24);
    QObject::connect(stop, &QAbstractButton::clicked, &context_.actions,
                     [&actions = context_.actions, id] { emit actions.stopService(id); });
    stack->addSpacing(2);
    stack->addWidget(stop, 0, Qt::AlignLeft);
    return card;
}

}  // namespace kestrane::ui
