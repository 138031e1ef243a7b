#include "app/desktop/BackgroundRunner.h"

#include <system_error>
#include <thread>

#include <QCoreApplication>
#include <QMetaObject>

namespace kestrane::app {

BackgroundRunner threadRunner() {
    return [](std::function<void()> work, std::function<void()> done) {
        QCoreApplication* application = QCoreApplication::instance();
        try {
            std::thread([work, done, application] {
                work();
                QMetaObject::invokeMethod(application, done, Qt::QueuedConnection);
            }).detach();
        } catch (const std::system_error&) {
            work();
            QMetaObject::invokeMethod(application, done, Qt::QueuedConnection);
        }
    };
}

}  // namespace kestrane::app
