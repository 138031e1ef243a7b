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
    // LocalService::id() of every row kept in its place after a stop although the rescan no
    // longer lists it; the next scan drops them.
    std::set<std::string> stoppedServiceIDs;

    // Takes a successful scan's rows and note.
    void apply(LocalServiceScan scan, platform::Date now) {
        services = std::move(scan.services);
        notice = std::move(scan.notice);
        updatedAt = now;
        stoppedServiceIDs.clear();
    }

    // Takes the rescan that follows a stop without moving any row under the pointer that
    // pressed "Остановить": rows still running keep their places with the new figures, rows
    // no longer listed stay where they were, as stopped, and new rows come after them. So the
    // next click cannot land on another process's stop button.
    void applyAfterStop(LocalServiceScan scan, platform::Date now) {
        std::vector<LocalService> fresh = std::move(scan.services);
        std::vector<bool> taken(fresh.size(), false);
        std::vector<LocalService> merged;
        merged.reserve(services.size() + fresh.size());
        for (LocalService& shown : services) {
            const std::string id = shown.id();
            std::size_t index = 0;
            while (index < fresh.size() && (taken[index] || fresh[index].id() != id)) ++index;
            if (index < fresh.size()) {
                taken[index] = true;
                merged.push_back(std::move(fresh[index]));
                stoppedServiceIDs.erase(id);
            } else {
                merged.push_back(std::move(shown));
                stoppedServiceIDs.insert(id);
            }
        }
        for (std::size_t index = 0; index < fresh.size(); ++index) {
            if (!taken[index]) merged.push_back(std::move(fresh[index]));
        }
        services = std::move(merged);
        notice = std::move(scan.notice);
        updatedAt = now;
    }

    // The rows that are running (those kept after a stop are not).
    std::size_t runningCount() const {
        std::size_t count = 0;
        for (const LocalService& row : services) count += stoppedServiceIDs.count(row.id()) == 0;
        return count;
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
