// Stream file names as found on a disc: "<label> <stamp> <sequence>.cvn" taken apart.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archive/StreamFormat.h"
#include "support/Check.h"

using corvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    corvane::StreamNameParts parts;
    if (!corvane::ParseStreamName(name, parts)) return 0;
    // The parts are the name's own pieces, in order, separated by single spaces.
    const std::string head = parts.label + ' ' + parts.timeStamp + ' ';
    Check(name.substr(0, head.size()) == head, "label and stamp start the name");
    Check(parts.timeStamp.find(' ') == std::string::npos, "the stamp holds no space");
    Check(parts.sequence >= 0 && parts.sequence <= 9999999999LL, "the sequence has 1 to 10 digits");
    const std::string_view number = name.substr(head.size(), name.size() - head.size() - 4);
    Check(!number.empty() && std::stoll(std::string(number)) == parts.sequence,
          "the sequence is the number before the extension");
    return 0;
}
