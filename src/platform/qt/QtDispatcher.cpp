#include "platform/qt/QtDispatcher.h"

#include <QAbstractEventDispatcher>
#include <QMetaObject>
#include <QThread>

namespace kavel::platform {

QtDispatcher::QtDispatcher()
    : MainThread_(std::this_thread::get_id())
    , EventDispatcher_(QAbstractEventDispatcher::instance(QThread::currentThread()))
    , Calls_([this] { WakeLoop(); }) {
    if (EventDispatcher_ != nullptr) {
        QObject::connect(EventDispatcher_.data(), &QAbstractEventDispatcher::aboutToBlock, &Context_,
                         [this] { OnAboutToBlock(); });
    }
}

QtDispatcher::~QtDispatcher() = default;

void QtDispatcher::WakeLoop() {
    // wakeUp is safe from any thread; the dispatcher lives as long as the application object.
    if (QAbstractEventDispatcher* dispatcher = EventDispatcher_.data()) {
        dispatcher->wakeUp();
    }
}

void QtDispatcher::Synchronize(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    Calls_.CallAndWait(std::move(fn));
}

void QtDispatcher::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(&Context_, std::move(fn), Qt::QueuedConnection);
}

std::size_t QtDispatcher::ProcessSynchronizedCalls() {
    return Calls_.RunPending();
}

void QtDispatcher::WaitProcessingSynchronized(const std::function<bool()>& done) {
    Calls_.WaitUntil(done);
}

void QtDispatcher::Wake() {
    Calls_.Wake();
    WakeLoop();
}

bool QtDispatcher::IsMainThread() const {
    return std::this_thread::get_id() == MainThread_;
}

void QtDispatcher::SetIdleHandler(std::function<IdleResult()> handler) {
    Idle_ = std::move(handler);
    WakeLoop();
}

void QtDispatcher::OnAboutToBlock() {
    // A call run here may spin a nested event loop, which blocks again: no re-entry.
    if (InHook_) {
        return;
    }
    InHook_ = true;
    Calls_.RunPending();
    bool again = false;
    if (Idle_) {
        const std::function<IdleResult()> idle = Idle_;
        again = idle() == IdleResult::CallAgain;
    }
    InHook_ = false;
    if (again || Calls_.HasPending()) {
        WakeLoop();
    }
}

} // namespace kavel::platform
