#pragma once

#include "platform/Dispatcher.h"

#include <QObject>
#include <QPointer>
#include <thread>

class QAbstractEventDispatcher;

namespace kavel::platform {

// The dispatcher of the desktop program, on Qt's event loop. Posted functions travel as queued
// calls; synchronized calls wait in their own queue and run when the main thread's event loop
// is about to block (and while the main thread waits for a thread). A call arriving wakes the
// loop, so nothing polls. The idle handler runs at the same moment, after the waiting calls.
// Create it on the main thread after the application object.
class QtDispatcher final : public Dispatcher {
public:
    QtDispatcher();
    ~QtDispatcher() override;
    QtDispatcher(const QtDispatcher&) = delete;
    QtDispatcher& operator=(const QtDispatcher&) = delete;

    void Synchronize(std::function<void()> fn) override;
    void Post(std::function<void()> fn) override;
    std::size_t ProcessSynchronizedCalls() override;
    void WaitProcessingSynchronized(const std::function<bool()>& done) override;
    void Wake() override;
    bool IsMainThread() const override;
    void SetIdleHandler(std::function<IdleResult()> handler) override;

private:
    void OnAboutToBlock();
    void WakeLoop();

    std::thread::id MainThread_;
    QObject Context_;
    QPointer<QAbstractEventDispatcher> EventDispatcher_;
    SynchronizedCallQueue Calls_;
    std::function<IdleResult()> Idle_;
    bool InHook_ = false;
};

} // namespace kavel::platform
