#include "platform/KeyFile.h"

#include <fstream>

namespace corvane {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string Unescaped(const std::string& raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        switch (raw[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:  // an escape of another layer ("\;" in lists, quotes in Exec): kept
                out += '\\';
                out += raw[i];
        }
    }
    return out;
}

}  // namespace

bool KeyFile::Load(const std::string& path) {
    groups_.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::map<std::string, std::string>* group = nullptr;
    std::string line;
    while (std::getline(in, line)) {
        line = Trimmed(line);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            // A group named twice is invalid; its first appearance counts.
            const std::string name = line.substr(1, close == std::string::npos ? 0 : close - 1);
            group = groups_.count(name) ? nullptr : &groups_[name];
            continue;
        }
        const auto equals = line.find('=');
        if (!group || equals == std::string::npos) continue;
        group->emplace(Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1)));
    }
    return true;
}

const std::string* KeyFile::Raw(const std::string& group, const std::string& key) const {
    const auto g = groups_.find(group);
    if (g == groups_.end()) return nullptr;
    const auto k = g->second.find(key);
    return k == g->second.end() ? nullptr : &k->second;
}

bool KeyFile::Has(const std::string& group, const std::string& key) const {
    return Raw(group, key) != nullptr;
}

std::string KeyFile::Value(const std::string& group, const std::string& key) const {
    const std::string* raw = Raw(group, key);
    return raw ? Unescaped(*raw) : std::string();
}

std::vector<std::string> KeyFile::List(const std::string& group, const std::string& key) const {
    std::vector<std::string> items;
    const std::string* raw = Raw(group, key);
    if (!raw) return items;
    std::string item;
    auto finish = [&] {
        if (!item.empty()) items.push_back(Unescaped(item));
        item.clear();
    };
    for (std::size_t i = 0; i < raw->size(); ++i) {
        const char c = (*raw)[i];
        if (c == '\\' && i + 1 < raw->size()) {
            // Escapes stay whole, so "\\;" ends an item with a backslash.
            const char next = (*raw)[++i];
            if (next != ';') item += c;
            item += next;
        } else if (c == ';') {
            finish();
        } else {
            item += c;
        }
    }
    finish();
    return items;
}

bool KeyFile::Flag(const std::string& group, const std::string& key) const {
    return Value(group, key) == "true";
}

}  // namespace corvane
