#include "acquisition/PoolInterlocked.h"

#include "platform/Dispatcher.h"

namespace kavel {

void TPoolInterlocked::SetArgs(const TPoolInterlockedArgs& args) {
    if (args.empty()) {
        throw ENoArgs();
    }
    Args_ = args;
}

void TPoolInterlocked::DoSync() {
    if (!Method_) {
        throw ENoProc();
    }
    Method_(Args_);
}

void TPoolInterlocked::Run() {
    // The failure of a call ends it on the main thread; the caller goes on as if it had run.
    platform::MainDispatcher().Synchronize([this] {
        try {
            DoSync();
        } catch (...) {
        }
    });
}

void SynchronizeArgs(const TPoolInterlockedArgs& args, TPoolInterlockedMethod method) {
    TPoolInterlocked call;
    call.SetMethod(std::move(method));
    call.SetArgs(args);
    call.Run();
}

} // namespace kavel
