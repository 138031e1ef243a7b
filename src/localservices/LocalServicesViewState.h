#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "localservices/LocalService.h"
#include "localservices/LocalServiceScan.h"
#include "platform/Date.h"

namespace kestrane::localservices {

// A titled message card of the services screen.
struct LocalServicesMessage {
    std::string title;
    std::string text;

    bool operator==(const LocalServicesMessage&) const = default;
};

// What the services screen shows: the last list, whether a scan runs, the last error and
// which rows have a stop in progress.
struct LocalServicesViewState {
    std::vector<LocalService> services;
    bool isLoading = false;
    std::optional<std::string> error;
    // Time of the last successful scan.
    std::optional<platform::Date> updatedAt;
    // LocalService::id() of every row being stopped.
    std::set<std::string> stoppingServiceIDs;
    // From the last successful scan: why no row can be stopped (ps missing or hung).
    std::optional<std::string> notice;

    // Takes a successful scan's rows and note.
    void apply(LocalServiceScan scan, platform::Date now) {
        services = std::move(scan.services);
        notice = std::move(scan.notice);
        updatedAt = now;
    }

    // The card shown in place of rows when there are none: "Сканирование" while a scan
    // runs, else "Все чисто" — but never next to an error, since a scan that failed has
    // not looked and cannot say that nothing was found.
    std::optional<LocalServicesMessage> emptyListMessage() const {
        if (!services.empty()) return std::nullopt;
        if (isLoading) {
            return LocalServicesMessage{"Сканирование",
                                        "Ищу локальные порты и ресурсоемкие dev-процессы..."};
        }
        if (error) return std::nullopt;
        return LocalServicesMessage{"Все чисто",
                                    "Пользовательские dev-сервисы и ресурсоемкие процессы не "
                                    "найдены. Системные процессы скрыты."};
    }

    bool operator==(const LocalServicesViewState&) const = default;
};

}  // namespace kestrane::localservices
