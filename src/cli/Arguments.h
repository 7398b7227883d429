#pragma once
// A small parser for "COMMAND [OPTIONS] [OPERANDS]": options are "--name" or "--name VALUE"
// (also "--name=VALUE"); everything else is an operand.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvane {

class Arguments {
public:
    // flags take no value; valued options take one. Unknown options are errors.
    Arguments(const std::vector<std::string>& args, const std::set<std::string>& flags,
              const std::set<std::string>& valued);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    bool Has(const std::string& name) const;
    std::optional<std::string> Value(const std::string& name) const;
    const std::vector<std::string>& Operands() const { return operands_; }

private:
    std::set<std::string> present_;
    std::map<std::string, std::string> values_;
    std::vector<std::string> operands_;
    std::string error_;
};

// The help lines of --names, for the commands that read stored names.
inline constexpr char kNamesOptionHelp[] =
    "  --names CODEPAGE      how to read names that are not UTF-8 (written on another\n"
    "                        system): windows-1250 (Central European), windows-1251\n"
    "                        (Cyrillic), windows-1252 (Western, the default), cp932\n"
    "                        (Japanese) or utf-8 (never reinterpret them)\n";

// Chooses the reading of stored names that --names gives, for the whole process (none: the
// default). False, with a message that lists the code pages supported, for an unknown one.
bool SelectNamesOption(const Arguments& arguments, std::string& error);

// A byte count with an optional K, M or G suffix (powers of 1024); nullopt when malformed.
std::optional<std::uint64_t> ParseByteCount(const std::string& text);

// Reads a password from the first line of a file; false with a message when it cannot, when
// the file is a folder or empty, or when its first line is blank.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);

}  // namespace corvane
