#include "app/desktop/LocalServicesController.h"

#include <exception>
#include <memory>

#include <QPointer>

#include "localservices/LocalServiceMonitorError.h"

namespace kestrane::app {

LocalServicesController::LocalServicesController(LocalServicesBackend backend,
                                                 BackgroundRunner runInBackground,
                                                 const platform::Clock& clock)
    : backend_(std::move(backend)), runInBackground_(std::move(runInBackground)), clock_(clock) {}

void LocalServicesController::shutDown() {
    shutDown_ = true;
    scanRunning_ = false;
    stopRunning_ = false;
}

void LocalServicesController::load() {
    if (isBusy()) return;
    state_.isLoading = true;
    state_.error.reset();
    scanRunning_ = true;
    emit changed();

    struct Outcome {
        LocalServiceScan scan;
        std::exception_ptr failure;
    };
    auto outcome = std::make_shared<Outcome>();
    QPointer<LocalServicesController> self(this);
    runInBackground_(
        [scan = backend_.scan, outcome] {
            try {
                outcome->scan = scan();
            } catch (...) {
                outcome->failure = std::current_exception();
            }
        },
        [self, outcome] {
            if (!self || self->shutDown_) return;
            LocalServicesViewState& state = self->state_;
            if (outcome->failure) {
                state.error = localservices::describeServicesFailure(outcome->failure);
            } else {
                state.apply(std::move(outcome->scan), self->clock_.now());
            }
            state.isLoading = false;
            self->scanRunning_ = false;
            emit self->changed();
        });
}

void LocalServicesController::stop(const LocalService& service) {
    if (isBusy()) return;
    state_.stoppingServiceIDs.insert(service.id());
    state_.error.reset();
    stopRunning_ = true;
    emit changed();

    auto outcome = std::make_shared<localservices::LocalServiceStopOutcome>();
    QPointer<LocalServicesController> self(this);
    runInBackground_([backend = backend_, service,
                      outcome] { *outcome = localservices::stopAndRescan(backend, service); },
                     [self, outcome, id = service.id()] {
                         if (!self || self->shutDown_) return;
                         LocalServicesViewState& state = self->state_;
                         // The rows stay in their places until the next scan.
                         if (outcome->scan) {
                             state.applyAfterStop(std::move(*outcome->scan), self->clock_.now());
                         }
                         if (outcome->error) state.error = outcome->error;
                         state.stoppingServiceIDs.erase(id);
                         self->stopRunning_ = false;
                         emit self->changed();
                     });
}

}  // namespace kestrane::app
