#include "cli/Arguments.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "cli/Terminal.h"
#include "platform/TextCodec.h"

namespace corvane {

Arguments::Arguments(const std::vector<std::string>& args, const std::set<std::string>& flags,
                     const std::set<std::string>& valued) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            operands_.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (flags.count(name) && !inlineValue) {
            present_.insert(name);
        } else if (valued.count(name)) {
            if (!inlineValue && i + 1 >= args.size()) {
                error_ = "option --" + name + " needs a value";
                return;
            }
            values_[name] = inlineValue ? *inlineValue : args[++i];
            present_.insert(name);
        } else {
            error_ = "unknown option " + arg;
            return;
        }
    }
}

bool Arguments::Has(const std::string& name) const { return present_.count(name) != 0; }

std::optional<std::string> Arguments::Value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::uint64_t> ParseByteCount(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) return std::nullopt;
    std::string suffix = text.substr(i);
    int shift = 0;
    if (suffix == "K" || suffix == "k") {
        shift = 10;
    } else if (suffix == "M" || suffix == "m") {
        shift = 20;
    } else if (suffix == "G" || suffix == "g") {
        shift = 30;
    } else if (!suffix.empty()) {
        return std::nullopt;
    }
    if (shift && value > (UINT64_MAX >> shift)) return std::nullopt;
    return value << shift;
}

bool SelectNamesOption(const Arguments& arguments, std::string& error) {
    const auto codePage = arguments.Value("names");
    if (!codePage || SelectStoredTextReading(*codePage)) return true;
    error = "--names takes one of " + SupportedStoredTextReadings() + ", not " + *codePage;
    return false;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    std::error_code folderError;
    if (std::filesystem::is_directory(path, folderError)) {
        error = "the password file " + path + " is a folder";
        return false;
    }
    std::FILE* in = std::fopen(path.c_str(), "rb");
    const bool hasLine = in && ReadLine(in, password);
    const bool read = in && !std::ferror(in);
    if (in) std::fclose(in);
    if (!read) {
        error = "cannot read the password file " + path;
        return false;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.find_first_not_of(" \t") == std::string::npos) {
        error = !hasLine ? "the password file " + path + " is empty"
                         : "the first line of the password file " + path + " is blank";
        return false;
    }
    return true;
}

}  // namespace corvane
