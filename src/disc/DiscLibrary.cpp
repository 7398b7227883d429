#include "disc/DiscLibrary.h"

#include <array>
#include <cassert>
#include <mutex>
#include <string_view>

#include "disc/IsoBurn.h"

namespace corvane {

namespace {

std::recursive_mutex& LibraryMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// All guarded by LibraryMutex().
int users = 0;
int lockDepth = 0;
bool isoStarted = false;
bool burnStarted = false;

constexpr std::array<std::string_view, 10> kSeverityNames = {
    "DEBUG", "UPDATE", "NOTE", "HINT", "WARNING", "SORRY", "MISHAP", "FAILURE", "FATAL", "ABORT"};

LibrarySeverity SeverityFromName(std::string_view name) {
    for (std::size_t i = 0; i < kSeverityNames.size(); ++i)
        if (kSeverityNames[i] == name) return static_cast<LibrarySeverity>(i);
    return LibrarySeverity::Debug;
}

char* Text(const char* text) { return const_cast<char*>(text); }  // the C interfaces lack const

void Start() {
    // Flag 1 leaves the process's locale alone (plain iso_init sets LC_CTYPE from the
    // environment). Names arrive as UTF-8 whatever the locale: in a C locale Joliet would turn
    // every non-ASCII letter into '_'.
    isoStarted = iso_init_with_flag(1) >= 0;
    if (isoStarted) {
        iso_set_local_charset(Text("UTF-8"), 0);
        // A staged file that cannot be read fails the recording instead of being written as
        // zeros.
        iso_set_abort_severity(Text("MISHAP"));
        iso_set_msgs_severities(Text("WARNING"), Text("NEVER"), Text(""));
    }
    burnStarted = burn::burn_initialize() == 1;
    // DEBUG: recordings wait for the DEBUG message that libburn's write thread has ended.
    if (burnStarted) burn::burn_msgs_set_severities(Text("DEBUG"), Text("NEVER"), Text(""));
}

// Needs the mutex held and the libraries started.
std::vector<LibraryMessage> DrainQueues() {
    std::vector<LibraryMessage> messages;
    int code = 0;
    int imageId = 0;
    int osError = 0;
    char severity[80];
    if (isoStarted) {
        char text[ISO_MSGS_MESSAGE_LEN];
        while (iso_obtain_msgs(Text("ALL"), &code, &imageId, text, severity) == 1)
            messages.push_back({false, code, SeverityFromName(severity), text});
    }
    if (burnStarted) {
        char text[BURN_MSGS_MESSAGE_LEN];
        while (burn::burn_msgs_obtain(Text("ALL"), &code, text, &osError, severity) == 1)
            messages.push_back({true, code, SeverityFromName(severity), text});
    }
    return messages;
}

void Stop() {
    DrainQueues();
    if (burnStarted) burn::burn_finish();  // the users have released their drives already
    if (isoStarted) iso_finish();
    burnStarted = isoStarted = false;
}

}  // namespace

DiscLibrary::User::User() {
    Lock lock;
    if (users++ == 0) Start();
}

DiscLibrary::User::~User() {
    Lock lock;
    if (--users == 0) Stop();
}

DiscLibrary::Lock::Lock() {
    LibraryMutex().lock();
    ++lockDepth;
}

DiscLibrary::Lock::~Lock() {
    if (lockDepth == 1 && users > 0) DrainQueues();
    --lockDepth;
    LibraryMutex().unlock();
}

bool DiscLibrary::Ready() {
    Lock lock;
    return isoStarted && burnStarted;
}

std::vector<LibraryMessage> DiscLibrary::TakeMessages() {
    Lock lock;
    assert(users > 0);  // obtaining messages after burn_finish crashes
    return DrainQueues();
}

std::string DescribeMessages(const std::vector<LibraryMessage>& messages, LibrarySeverity atLeast) {
    std::string description;
    for (const auto& message : messages) {
        if (message.severity < atLeast) continue;
        if (!description.empty()) description += "; ";
        description += kSeverityNames[static_cast<std::size_t>(message.severity)];
        description += ": ";
        description += message.text;
    }
    return description;
}

}  // namespace corvane
