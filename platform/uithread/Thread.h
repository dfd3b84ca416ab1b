#pragma once
// Threads as the HID layer and the command workers use them: a thread object whose body is
// Execute(), a Terminate request it polls, WaitFor, self-freeing workers, and Synchronize, which
// runs a procedure on the UI thread while the calling thread waits.
//
// The UI thread is the thread that started the process. It runs queued procedures in
// CheckSynchronize(), which the event loop calls (EventLoop.h) and WaitFor calls while the UI
// thread waits, so a thread blocked in Synchronize can always finish.

#include "platform/win32/WinTypes.h"

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class TThread {
public:
    // A new thread is suspended: Execute runs once Start() is called. A class that should run
    // as soon as it is constructed calls Start() as the last step of its constructor; only a
    // class nothing derives from may do so, or Execute could run before the object is complete.
    TThread() = default;
    // Asks a running thread to terminate and waits for it (serving Synchronize on the UI
    // thread); a self-freeing thread deleting itself just lets go of its system thread.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    bool Finished() const { return finished_.load(); }
    // Waits until Execute has returned; returns ReturnValue. Returns at once for a thread never
    // started. Refused (std::logic_error) on the thread itself and for a self-freeing thread,
    // which may be gone by the time the wait ends.
    DWORD WaitFor();

    // Set before Start(): the thread deletes itself once Execute has returned.
    std::atomic<bool> FreeOnTerminate{false};
    // What ended Execute by raising, or null. Read it after WaitFor.
    std::exception_ptr FatalException() const { return fatalException_; }
    DWORD ReturnValue() const { return returnValue_; }

    // Runs procedure on the UI thread and returns once it has run there, rethrowing here
    // whatever it raised. Called on the UI thread itself, runs it directly.
    static void Synchronize(const std::function<void()>& procedure);
    // Queues procedure for the UI thread and returns at once, from any thread (on the UI thread
    // too: it then runs at the next CheckSynchronize). It keeps its place among the procedures
    // of Synchronize, so both run in the order they were queued.
    static void Queue(std::function<void()> procedure);
    // Gives the thread a name debugging tools show (cut to what the system keeps).
    static void NameThreadForDebugging(const std::string& name);

protected:
    virtual void Execute() = 0;
    // Called by Terminate, on the terminating thread: a body blocked in a wait can be woken here.
    virtual void TerminatedSet() {}
    void SetReturnValue(DWORD value) { returnValue_ = value; }

private:
    void run();
    // On the UI thread, runs queued procedures meanwhile.
    void waitUntilFinished();
    void join();

    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> started_{false};
    std::exception_ptr fatalException_;
    DWORD returnValue_ = 0;
    std::mutex threadMutex_; // guards thread_ against the thread itself finishing meanwhile
    std::thread thread_;
};

// On the UI thread: runs every procedure queued by Synchronize and Queue so far. Whether any
// ran. What a queued procedure raised (nobody waits for it) is raised here once the others have
// run. On any other thread does nothing.
bool CheckSynchronize();

namespace platform {

bool isMainThread();
// Whether procedures wait for CheckSynchronize.
bool HasQueuedSynchronize();

} // namespace platform
