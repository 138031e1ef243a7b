#include "localservices/LocalServiceMonitorError.h"

namespace kestrane::localservices {

LocalServiceMonitorError LocalServiceMonitorError::signalFailed(const std::string& systemError) {
    return {Kind::signalFailed, "Не удалось отправить процессу SIGTERM: " + systemError};
}

LocalServiceMonitorError LocalServiceMonitorError::scanFailed() {
    return {Kind::scanFailed, "Не удалось получить список локальных TCP-сервисов."};
}

LocalServiceMonitorError LocalServiceMonitorError::noLongerListening() {
    return {Kind::noLongerListening, "Сервис уже не слушает выбранный порт."};
}

LocalServiceMonitorError LocalServiceMonitorError::noLongerRunning() {
    return {Kind::noLongerRunning, "Процесс уже завершен."};
}

LocalServiceMonitorError LocalServiceMonitorError::processChanged() {
    return {Kind::processChanged,
            "PID теперь принадлежит другому процессу. Список обновлен без остановки."};
}

LocalServiceMonitorError LocalServiceMonitorError::protectedProcess() {
    return {Kind::protectedProcess, "Kestrane не может остановить этот процесс."};
}

LocalServiceMonitorError LocalServiceMonitorError::toolTimedOut(const std::string& tool,
                                                                int seconds) {
    return {Kind::toolTimedOut, "Не удалось получить список локальных TCP-сервисов: " + tool +
                                    " не ответил за " + std::to_string(seconds) + " с."};
}

std::string describeServicesFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return LocalServiceMonitorError::scanFailed().what();
    }
}

}  // namespace kestrane::localservices
