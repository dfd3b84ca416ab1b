#include "platform/uithread/QtEventLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <cstdio>

namespace {

const QEvent::Type pumpEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

void writeToStderr(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& raised) {
        std::fprintf(stderr, "%s\n", raised.what());
    } catch (...) {
        std::fprintf(stderr, "unknown error in a message handler\n");
    }
}

} // namespace

QtEventLoop::QtEventLoop(std::function<void(std::exception_ptr)> onError, QObject* parent)
    : QObject(parent), onError_(onError ? std::move(onError) : writeToStderr) {
    platform::setEventLoop(this);
    wake(); // work posted before the loop existed
}

QtEventLoop::~QtEventLoop() {
    platform::setEventLoop(nullptr);
}

void QtEventLoop::wake() {
    if (!wakePosted_.exchange(true))
        QCoreApplication::postEvent(this, new QEvent(pumpEventType));
}

bool QtEventLoop::event(QEvent* event) {
    if (event->type() != pumpEventType)
        return QObject::event(event);
    pump();
    return true;
}

// Exceptions must not cross Qt's event dispatch. One that a handler raised goes to onError,
// and the work behind it gets another pass.
void QtEventLoop::pump() {
    wakePosted_.store(false);
    try {
        platform::PumpMessages();
    } catch (...) {
        wake();
        onError_(std::current_exception());
    }
}
