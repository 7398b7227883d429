#pragma once
// The one door to libisofs and libburn. Both keep process-wide state (message queues, the list
// of drives, worker threads), so every call into them is made while holding DiscLibrary::Lock,
// a process-wide recursive mutex, for a whole operation: one add, one size check, one drive
// scan, one recording from its start until libburn's write thread has ended. That keeps
// recordings serialized and one operation's messages away from another.
//
// Threads: calls may come from different threads (a window lists recorders, a job records),
// one at a time. That is sound because neither library ties state to the calling thread: they
// keep no thread-local storage, and libburn looks at the caller's thread only in its signal
// handler, which is never installed here. The mutex orders the calls, so each caller sees what
// the previous one left. The libraries' own threads (drive scan, disc writer, image writer)
// synchronize with the library internally; their objects are freed only once they have ended.
// Progress sinks are called with the lock held, so they must not call back into the disc layer.

#include <string>
#include <vector>

namespace corvane {

enum class LibrarySeverity {
    Debug,
    Update,
    Note,
    Hint,
    Warning,
    Sorry,
    Mishap,
    Failure,
    Fatal,
    Abort
};

struct LibraryMessage {
    bool fromBurn = false;  // libburn's queue, else libisofs's
    int code = 0;
    LibrarySeverity severity = LibrarySeverity::Debug;
    std::string text;
};

class DiscLibrary {
  public:
    // Keeps both libraries set up while at least one User exists; the last one shuts them down.
    // Everything that holds library objects holds a User and frees those objects first.
    class User {
      public:
        User();
        ~User();
        User(const User&) = delete;
        User& operator=(const User&) = delete;
    };

    // Holds the libraries for one operation; nests on one thread. Messages still queued when
    // the outermost Lock ends are dropped, so each operation starts with empty queues.
    class Lock {
      public:
        Lock();
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
    };

    // False when the libraries could not be set up. Needs a User.
    static bool Ready();
    // The messages of both queues, oldest first. Needs a Lock and a User.
    static std::vector<LibraryMessage> TakeMessages();
};

// "SORRY: text; FAILURE: text" of the messages at or above a severity, for error reports.
std::string DescribeMessages(const std::vector<LibraryMessage>& messages, LibrarySeverity atLeast);

}  // namespace corvane
