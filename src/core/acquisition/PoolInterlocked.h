#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace kavel {

// One argument of a synchronized call. References to objects (a reader, a server definition)
// travel as pointer-sized integers: PointerArg on the way in, ArgPointer on the way out.
using TPoolInterlockedArg = std::variant<std::int64_t, std::string, bool, double>;
using TPoolInterlockedArgs = std::vector<TPoolInterlockedArg>;
// A main-thread method that takes the argument array.
using TPoolInterlockedMethod = std::function<void(const TPoolInterlockedArgs&)>;

static_assert(sizeof(void*) <= sizeof(std::int64_t), "references travel as 64-bit integers");

inline TPoolInterlockedArg PointerArg(const void* object) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(object));
}
template <typename T>
T* ArgPointer(const TPoolInterlockedArg& arg) {
    return reinterpret_cast<T*>(static_cast<std::intptr_t>(std::get<std::int64_t>(arg)));
}

class ENoArgs : public std::runtime_error {
public:
    ENoArgs()
        : std::runtime_error("Keine Aufrufargumente angegeben; normales Synchronize() verwenden") {}
};

class ENoProc : public std::runtime_error {
public:
    ENoProc()
        : std::runtime_error("Keine Prozedur angegeben") {}
};

// One synchronized call with arguments: the method runs on the main thread (through the
// process-wide dispatcher) while the caller waits. The caller's own thread carries the wait;
// no extra thread is created per call.
class TPoolInterlocked {
public:
    void SetMethod(TPoolInterlockedMethod method) { Method_ = std::move(method); }
    // Copies the arguments; an empty list throws ENoArgs.
    void SetArgs(const TPoolInterlockedArgs& args);
    const TPoolInterlockedArgs& Args() const { return Args_; }
    // Runs DoSync on the main thread and returns when it has run. An exception from the method
    // (or ENoProc) ends the call there and is not passed on.
    void Run();
    // Main thread: calls the method with the arguments; ENoProc when no method is set.
    void DoSync();

private:
    TPoolInterlockedMethod Method_;
    TPoolInterlockedArgs Args_;
};

// Runs method(args) on the main thread and returns when it has run or failed there. Throws
// ENoArgs in the caller, without calling, for an empty list.
void SynchronizeArgs(const TPoolInterlockedArgs& args, TPoolInterlockedMethod method);

} // namespace kavel
